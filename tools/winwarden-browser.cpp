// winwarden-browser: installs, removes and shows the per-user native-messaging host manifests
// through which the browsers' companion extension reaches winwarden-host.

#include "platform/bridgeprotocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Family {
    QString name;
    bool gecko;     // Firefox: ~/.mozilla and allowed_extensions
    QString folder; // the browser's own folder, under the configuration home (or home)
    QStringList programs;
};

const std::vector<Family>& Families() {
    static const std::vector<Family> families{
        {u"chromium"_s, false, u"chromium"_s, {u"chromium"_s, u"chromium-browser"_s}},
        {u"chrome"_s, false, u"google-chrome"_s, {u"google-chrome"_s, u"google-chrome-stable"_s}},
        {u"brave"_s, false, u"BraveSoftware/Brave-Browser"_s, {u"brave-browser"_s, u"brave"_s}},
        {u"edge"_s, false, u"microsoft-edge"_s, {u"microsoft-edge"_s, u"microsoft-edge-stable"_s}},
        {u"vivaldi"_s, false, u"vivaldi"_s, {u"vivaldi"_s, u"vivaldi-stable"_s}},
        {u"firefox"_s, true, u".mozilla"_s, {u"firefox"_s, u"firefox-esr"_s}},
    };
    return families;
}

QString Home() {
    return QDir::cleanPath(QDir::homePath());
}

// Chromium-family browsers keep their profiles under $XDG_CONFIG_HOME; Firefox under ~/.mozilla.
QString Base(const Family& family) {
    if (family.gecko) {
        return Home();
    }
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    return config.startsWith(u'/') ? QDir::cleanPath(config) : Home() + u"/.config"_s;
}

QString BrowserFolder(const Family& family) {
    return Base(family) + u'/' + family.folder;
}

QString ManifestPath(const Family& family) {
    return BrowserFolder(family) +
           (family.gecko ? u"/native-messaging-hosts/"_s : u"/NativeMessagingHosts/"_s) +
           QLatin1StringView(kBridgeHostName) + u".json"_s;
}

bool IsPresent(const Family& family) {
    if (QFileInfo(BrowserFolder(family)).isDir()) {
        return true;
    }
    return std::any_of(family.programs.begin(), family.programs.end(), [](const QString& p) {
        return !QStandardPaths::findExecutable(p).isEmpty();
    });
}

QByteArray Manifest(const Family& family, const QString& host) {
    QJsonObject manifest{{u"name"_s, QLatin1StringView(kBridgeHostName)},
                         {u"description"_s, u"winwarden 浏览器桥"_s},
                         {u"path"_s, host},
                         {u"type"_s, u"stdio"_s}};
    if (family.gecko) {
        manifest[u"allowed_extensions"_s] = QJsonArray{QLatin1StringView(kBridgeGeckoId)};
    } else {
        manifest[u"allowed_origins"_s] =
            QJsonArray{u"chrome-extension://"_s + QLatin1StringView(kBridgeChromiumId) + u'/'};
    }
    return QJsonDocument(manifest).toJson();
}

void Print(FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().append('\n').constData(), stream);
}

// Removes the folders an install made, from the innermost out, as long as they are empty and
// below the home (or the configuration home, where that lies elsewhere).
void RemoveEmptyFolders(const Family& family, QString folder) {
    const QString home = Home();
    const QString stop = Base(family).startsWith(home + u'/') ? home : Base(family);
    while (folder.startsWith(stop + u'/') && QDir(folder).isEmpty() && QDir().rmdir(folder)) {
        folder = QFileInfo(folder).path();
    }
}

int Install(const QString& host, const QString& extension) {
    if (!QFileInfo(host).isExecutable()) {
        Print(stderr, u"找不到本机主机程序 %1（用 --host 指定）"_s.arg(host));
        return kExitFailure;
    }
    int written = 0;
    for (const Family& family : Families()) {
        if (!IsPresent(family)) {
            continue;
        }
        const QString path = ManifestPath(family);
        QSaveFile file(path);
        if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly) ||
            file.write(Manifest(family, host)) < 0 || !file.commit()) {
            Print(stderr, u"%1：无法写入 %2"_s.arg(family.name, path));
            return kExitFailure;
        }
        Print(stdout, u"%1：已写入 %2"_s.arg(family.name, path));
        ++written;
    }
    if (written == 0) {
        Print(stderr,
              u"没有找到受支持的浏览器（Chromium、Chrome、Brave、Edge、Vivaldi、Firefox）"_s);
        return kExitFailure;
    }
    Print(stdout, u"再在浏览器中加入配套扩展（%1）："_s.arg(extension));
    Print(stdout, u"  Chromium 系：打开 chrome://extensions，开启“开发者模式”，"
                  u"点“加载已解压的扩展程序”并选这个文件夹；"_s);
    Print(stdout, u"  Firefox：打开 about:debugging#/runtime/this-firefox，"
                  u"点“临时载入附加组件”并选其中的 manifest.json；"_s);
    return 0;
}

int Uninstall() {
    for (const Family& family : Families()) {
        const QString path = ManifestPath(family);
        if (!QFileInfo::exists(path)) {
            continue;
        }
        if (!QFile::remove(path)) {
            Print(stderr, u"%1：无法删除 %2"_s.arg(family.name, path));
            return kExitFailure;
        }
        RemoveEmptyFolders(family, QFileInfo(path).path());
        Print(stdout, u"%1：已删除 %2"_s.arg(family.name, path));
    }
    return 0;
}

int Status() {
    for (const Family& family : Families()) {
        const QString path = ManifestPath(family);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            Print(stdout, u"%1：%2"_s.arg(family.name,
                                          IsPresent(family) ? u"未安装"_s : u"未找到浏览器"_s));
            continue;
        }
        const QString host = QJsonDocument::fromJson(file.read(65536))[u"path"].toString();
        Print(stdout, u"%1：已安装 %2 → %3%4"_s.arg(
                          family.name, path, host,
                          QFileInfo(host).isExecutable() ? QString() : u"（主机程序不存在）"_s));
    }
    return 0;
}

int Usage(FILE* stream = stderr) {
    Print(stream, u"用法: winwarden-browser install|uninstall|status [--host 主机程序] "
                  u"[--extension 扩展文件夹]"_s);
    return stream == stderr ? kExitUsage : 0;
}

int Run(QStringList args) {
    args.removeFirst();
    if (args.size() == 1 && (args.front() == "-h"_L1 || args.front() == "--help"_L1)) {
        return Usage(stdout);
    }
    if (args.isEmpty()) {
        return Usage();
    }
    const QString command = args.takeFirst();
    const QString bin = QCoreApplication::applicationDirPath();
    // Installed, the host sits beside this tool; in a build tree, in host/.
    QString host = bin + u"/winwarden-host"_s;
    if (!QFileInfo(host).isExecutable()) {
        host = QDir::cleanPath(bin + u"/../host/winwarden-host"_s);
    }
    QString extension = QDir::cleanPath(bin + u"/../share/winwarden/extension"_s);
    while (args.size() >= 2 && (args.front() == "--host"_L1 || args.front() == "--extension"_L1)) {
        const QString option = args.takeFirst();
        (option == "--host"_L1 ? host : extension) = QFileInfo(args.takeFirst()).absoluteFilePath();
    }
    if (!args.isEmpty()) {
        return Usage();
    }
    if (command == "install"_L1) {
        return Install(host, extension);
    }
    if (command == "uninstall"_L1) {
        return Uninstall();
    }
    if (command == "status"_L1) {
        return Status();
    }
    return Usage();
}

} // namespace

} // namespace winwarden

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return winwarden::Run(app.arguments());
}
