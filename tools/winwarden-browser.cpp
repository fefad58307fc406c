// winwarden-browser: installs, removes and shows the per-user native-messaging host manifests
// through which the browsers' companion extension reaches winwarden-host; as root, also the
// system-wide ones and the browsers' policies that force the extension in; and packs the
// extension for those policies.

#include "platform/bridgeprotocol.h"
#include "res/version.h"
#include "tools/extensionpack.h"
#include "tools/systeminstall.h"

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
#include <map>
#include <unistd.h>

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
            file.write(HostManifest(family.gecko, host)) < 0 || !file.commit()) {
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
    Print(stdout, u"要让孩子的账户无法停用或绕过扩展，请由管理员运行 "
                  u"sudo winwarden-browser install --system"_s);
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

int Status(const QString& root) {
    for (const Family& family : Families()) {
        QStringList parts = SystemCoverage(root, family.gecko ? u"firefox"_s : family.name);
        const QString path = ManifestPath(family);
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QString host = QJsonDocument::fromJson(file.read(65536))[u"path"].toString();
            parts.prepend(u"用户主机清单 %1 → %2%3"_s.arg(
                path, host, QFileInfo(host).isExecutable() ? QString() : u"（主机程序不存在）"_s));
        }
        if (parts.isEmpty()) {
            parts.append(IsPresent(family) ? u"未安装"_s : u"未找到浏览器"_s);
        }
        Print(stdout, family.name + u"："_s + parts.join(u"；"_s));
    }
    return 0;
}

// Packs the extension for the policies: winwarden.crx (signed with its key, which must give
// the extension's fixed id), winwarden.xpi, and a copy of its files without the key.
int Pack(const QString& extension, const QString& keyPath, const QString& out) {
    const auto files = ReadExtensionFiles(extension);
    QFile key(keyPath);
    if (!files || !key.open(QIODevice::ReadOnly)) {
        Print(stderr, u"无法读取扩展 %1 或密钥 %2"_s.arg(extension, keyPath));
        return kExitFailure;
    }
    const QByteArray zip = ZipArchive(*files);
    QString id;
    QString error;
    const auto crx = CrxPackage(zip, key.readAll(), &id, &error);
    if (!crx) {
        Print(stderr, keyPath + u"："_s + error);
        return kExitFailure;
    }
    if (id != QLatin1StringView(kBridgeChromiumId)) {
        Print(stderr,
              u"密钥给出的扩展 id 是 %1，不是 %2"_s.arg(id, QLatin1StringView(kBridgeChromiumId)));
        return kExitFailure;
    }
    std::vector<PackedFile> outputs{{u"winwarden.crx"_s, *crx}, {u"winwarden.xpi"_s, zip}};
    for (const auto& [name, contents] : *files) {
        outputs.emplace_back(u"extension/"_s + name, contents);
    }
    for (const auto& [name, contents] : outputs) {
        const QString path = out + u'/' + name;
        QSaveFile file(path);
        if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly) ||
            file.write(contents) != contents.size() || !file.commit()) {
            Print(stderr, u"无法写入 "_s + path);
            return kExitFailure;
        }
    }
    return 0;
}

QString ExtensionVersion(const QString& extension) {
    QFile file(extension + u"/manifest.json"_s);
    return file.open(QIODevice::ReadOnly)
               ? QJsonDocument::fromJson(file.readAll())[u"version"].toString()
               : QString();
}

int Usage(FILE* stream = stderr) {
    Print(stream,
          u"用法: winwarden-browser install|uninstall|status [--host 主机程序] "
          u"[--extension 扩展文件夹]\n"
          u"      winwarden-browser install --system [--no-incognito] [--no-guest] "
          u"[--fail-closed] [--packed 打包文件夹] [--root 根目录]\n"
          u"      winwarden-browser uninstall --system [--root 根目录]\n"
          u"      winwarden-browser pack --extension 扩展文件夹 --key 密钥 --out 输出文件夹\n"
          u"--no-incognito 关闭无痕模式，--no-guest 关闭访客模式和添加用户；--fail-closed "
          u"让扩展只认守护服务（winwarden-guard）签名的应答：浏览器启动后直到守护服务应答，"
          u"以及守护服务 10 秒没有应答时，挡住所有新打开的网页"_s);
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
    // Installed, the host sits beside this tool; in a build tree, in host/. The packed
    // extension is in share/winwarden in both.
    QString host = bin + u"/winwarden-host"_s;
    if (!QFileInfo(host).isExecutable()) {
        host = QDir::cleanPath(bin + u"/../host/winwarden-host"_s);
    }
    QString packed = QDir::cleanPath(bin + u"/../share/winwarden"_s);
    QString extension = packed + u"/extension"_s;
    QString key;
    QString out;
    QString root;
    bool system = false;
    SystemInstall install;
    const std::map<QString, QString*> valued{
        {u"--host"_s, &host},     {u"--extension"_s, &extension},
        {u"--packed"_s, &packed}, {u"--key"_s, &key},
        {u"--out"_s, &out},       {u"--root"_s, &root}};
    const std::map<QString, bool*> flags{{u"--system"_s, &system},
                                         {u"--no-incognito"_s, &install.noIncognito},
                                         {u"--no-guest"_s, &install.noGuest},
                                         {u"--fail-closed"_s, &install.failClosed}};
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (const auto flag = flags.find(option); flag != flags.end()) {
            *flag->second = true;
        } else if (const auto value = valued.find(option);
                   value != valued.end() && !args.isEmpty()) {
            *value->second = QFileInfo(args.takeFirst()).absoluteFilePath();
        } else {
            return Usage();
        }
    }
    if (command == "pack"_L1) {
        return key.isEmpty() || out.isEmpty() ? Usage() : Pack(extension, key, out);
    }
    if (system && root.isEmpty() && ::geteuid() != 0) {
        Print(stderr, u"系统范围的安装需要 root 权限，请用 sudo 运行"_s);
        return kExitFailure;
    }
    if (command == "install"_L1 && system) {
        if (!QFileInfo(host).isExecutable()) {
            Print(stderr, u"找不到本机主机程序 %1（用 --host 指定）"_s.arg(host));
            return kExitFailure;
        }
        install.root = root;
        install.host = host;
        install.packed = packed;
        install.version = ExtensionVersion(packed + u"/extension"_s);
        if (install.version.isEmpty()) {
            Print(stderr,
                  u"找不到扩展 %1/extension/manifest.json（用 --packed 指定打包文件夹）"_s.arg(
                      packed));
            return kExitFailure;
        }
        return InstallSystem(install);
    }
    if (command == "uninstall"_L1 && system) {
        return UninstallSystem(root);
    }
    if (command == "install"_L1) {
        return Install(host, extension);
    }
    if (command == "uninstall"_L1) {
        return Uninstall();
    }
    if (command == "status"_L1) {
        return Status(root);
    }
    return Usage();
}

} // namespace

} // namespace winwarden

int main(int argc, char** argv) {
    if (winwarden::res::PrintVersionIfAsked(argc, argv, "winwarden-browser")) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    return winwarden::Run(app.arguments());
}
