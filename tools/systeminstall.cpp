#include "tools/systeminstall.h"

#include "platform/bridgeprotocol.h"
#include "signing/guardkey.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QUrl>
#include <cstdio>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

constexpr int kExitFailure = 1;
const QString kRecord = u"installed.json"_s;

struct ChromiumPlace {
    QString family;
    QString base; // the browser's folder under /etc
};

const std::vector<ChromiumPlace>& ChromiumPlaces() {
    static const std::vector<ChromiumPlace> places{{u"chromium"_s, u"/etc/chromium"_s},
                                                   {u"chrome"_s, u"/etc/opt/chrome"_s}};
    return places;
}

const QString kMozillaHosts = u"/usr/lib/mozilla/native-messaging-hosts"_s;
// Debian's firefox-esr reads its policies from its own distribution folder (its
// /usr/lib/firefox-esr/distribution is a link there), and its locked preferences from /etc.
const QString kEsrPolicies = u"/usr/share/firefox-esr/distribution/policies.json"_s;
const QString kEsrPreferences = u"/etc/firefox-esr/winwarden.js"_s;
const QString kFirefoxPolicies = u"/etc/firefox/policies/policies.json"_s;

QString ManifestName() {
    return QLatin1StringView(kBridgeHostName) + u".json"_s;
}

QString ChromiumPolicy(const ChromiumPlace& place) {
    return place.base + u"/policies/managed/winwarden.json"_s;
}

QString ChromiumHosts(const ChromiumPlace& place) {
    return place.base + u"/native-messaging-hosts"_s;
}

void Print(FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().append('\n').constData(), stream);
}

std::optional<QByteArray> Read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
}

QJsonObject ReadObject(const QString& path) {
    return QJsonDocument::fromJson(Read(path).value_or(QByteArray())).object();
}

bool WriteFile(const QString& path, const QByteArray& contents) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() &&
           file.commit();
}

bool EsrPresent(const QString& root) {
    return QFileInfo(root + u"/usr/share/firefox-esr"_s).isDir() ||
           QFileInfo(root + u"/usr/lib/firefox-esr"_s).isDir();
}

// What the extension reads as its managed storage: to fail closed, and the public key (base64
// DER) of the guard, whose signed answers alone keep it open.
QJsonObject ExtensionPolicy(const QString& guardKey) {
    return QJsonObject{{u"failClosed"_s, true}, {u"guardKey"_s, guardKey}};
}

// The guard's public key, base64. Where the guard has not run yet, its key is made here, for
// the guard's user (root's where there is no such user yet, as for a guard run by hand), in
// the guard's state folder: the policy has to name the key now, and the guard finds it there
// at its first start. The key is the guard's, not the install's: uninstall leaves it.
std::optional<QString> GuardPublicKey(const QString& root) {
    const QString path = root + QLatin1StringView(kGuardKeyFile);
    const QString folder = QFileInfo(path).path();
    KeyOwner owner;
    if (const passwd* user = ::getpwnam(kGuardUser)) {
        owner = {user->pw_uid, user->pw_gid};
    }
    const QByteArray native = QFile::encodeName(folder);
    if (!QFileInfo(folder).isDir() &&
        (!QDir().mkpath(QFileInfo(folder).path()) || ::mkdir(native.constData(), 0750) != 0 ||
         ::chown(native.constData(), owner.uid, owner.gid) != 0)) {
        Print(stderr, u"无法创建守护服务的文件夹 "_s + folder);
        return std::nullopt;
    }
    QString error;
    const auto key = GuardKey::LoadOrCreate(path, owner, &error);
    if (!key) {
        Print(stderr, error);
        return std::nullopt;
    }
    return QString::fromLatin1(key->PublicKey().toBase64());
}

// What status says of the extension's own policy.
QString FailsClosedNote(const QJsonValue& policy) {
    return policy[u"failClosed"] == QJsonValue(true) ? u"（守护服务不应答时挡住网页）"_s
                                                     : QString();
}

// A policy that fails closed must name the guard's key: one that names another, or a key the
// guard cannot use, leaves the browsers closed for good.
void CheckGuardKey(const QString& root, const QString& file, const QJsonValue& policy,
                   QStringList& problems) {
    if (policy[u"failClosed"] != QJsonValue(true)) {
        return;
    }
    QString error;
    const auto key = GuardKey::Load(root + QLatin1StringView(kGuardKeyFile), &error);
    if (!key) {
        problems.append(
            u"%1 要求没有守护服务时挡住网页，但守护服务的签名密钥不能用：%2"_s.arg(file, error));
    } else if (policy[u"guardKey"].toString() != QString::fromLatin1(key->PublicKey().toBase64())) {
        problems.append(u"%1 中的守护服务公钥与 %2 不符，浏览器会一直挡住网页（请重新运行 sudo "
                        u"winwarden-browser install --system --fail-closed）"_s.arg(
                            file, QLatin1StringView(kGuardKeyFile)));
    }
}

// `object` with `value` at `path` (nested objects made as needed); a null value takes the entry
// out, and with it the objects it leaves empty.
QJsonObject With(QJsonObject object, QStringList path, const QJsonValue& value) {
    const QString key = path.takeFirst();
    QJsonValue inner = value;
    if (!path.isEmpty()) {
        const QJsonObject changed = With(object[key].toObject(), path, value);
        inner = changed.isEmpty() ? QJsonValue() : QJsonValue(changed);
    }
    if (inner.isNull()) {
        object.remove(key);
    } else {
        object[key] = inner;
    }
    return object;
}

// Firefox's policies with the extension forced in, private windows included, troubleshoot mode
// (which starts without add-ons) off, and told to fail closed when a guard's key is given.
QJsonObject WithExtension(QJsonObject policiesFile, const QString& xpi, const QString& guardKey) {
    const QString id = QLatin1StringView(kBridgeGeckoId);
    QJsonObject policies = With(policiesFile[u"policies"].toObject(), {u"ExtensionSettings"_s, id},
                                QJsonObject{{u"installation_mode"_s, u"force_installed"_s},
                                            {u"install_url"_s, QUrl::fromLocalFile(xpi).toString()},
                                            {u"private_browsing"_s, true}});
    policies[u"DisableSafeMode"_s] = true;
    if (!guardKey.isEmpty()) {
        policies = With(policies, {u"3rdparty"_s, u"Extensions"_s, id}, ExtensionPolicy(guardKey));
    }
    policiesFile[u"policies"_s] = policies;
    return policiesFile;
}

// The policies without what WithExtension put in; DisableSafeMode stays where `before` (the
// file as the install found it) had it.
QJsonObject WithoutExtension(QJsonObject policiesFile, const QJsonObject& before) {
    const QString id = QLatin1StringView(kBridgeGeckoId);
    QJsonObject policies =
        With(With(policiesFile[u"policies"].toObject(), {u"ExtensionSettings"_s, id}, {}),
             {u"3rdparty"_s, u"Extensions"_s, id}, {});
    if (!before[u"policies"].toObject().contains(u"DisableSafeMode"_s)) {
        policies.remove(u"DisableSafeMode"_s);
    }
    policiesFile[u"policies"_s] = policies;
    return policiesFile;
}

// Everything an install makes or changes, written down as it goes, so that it can be undone
// exactly: by uninstall, or at once when a later step fails.
class Changes final {
public:
    explicit Changes(QString root, QJsonObject record = {})
        : m_root(std::move(root)), m_record(std::move(record)) {}

    const QJsonObject& Record() const { return m_record; }
    QString Error() const { return m_error; }

    // Makes `folder` and the folders above it that are missing, each readable by everyone.
    bool MakeFolders(const QString& folder) {
        QString path;
        for (const QString& part : folder.split(u'/', Qt::SkipEmptyParts)) {
            path += u'/' + part;
            if (QFileInfo(m_root + path).isDir()) {
                continue;
            }
            if (!QDir().mkdir(m_root + path) ||
                !QFile::setPermissions(m_root + path, QFile::ReadOwner | QFile::WriteOwner |
                                                          QFile::ExeOwner | QFile::ReadGroup |
                                                          QFile::ExeGroup | QFile::ReadOther |
                                                          QFile::ExeOther)) {
                m_error = u"无法创建 "_s + m_root + path;
                return false;
            }
            Append(u"folders"_s, path);
        }
        return true;
    }

    bool Write(const QString& path, const QByteArray& contents) {
        if (!MakeFolders(QFileInfo(path).path())) {
            return false;
        }
        const std::optional<QByteArray> before = Read(m_root + path);
        if (!WriteFile(m_root + path, contents)) {
            m_error = u"无法写入 "_s + m_root + path;
            return false;
        }
        if (before) {
            Append(u"changed"_s,
                   QJsonObject{{u"path"_s, path},
                               {u"before"_s, QString::fromLatin1(before->toBase64())},
                               {u"after"_s, QString::fromLatin1(contents.toBase64())}});
        } else {
            QFile::setPermissions(m_root + path, QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ReadGroup | QFile::ReadOther);
            Append(u"files"_s, path);
        }
        Print(stdout, u"已写入 "_s + m_root + path);
        return true;
    }

    // Undoes every change recorded, the latest first. False when some could not be undone.
    bool Undo() {
        bool undone = true;
        for (const QJsonValue& file : m_record[u"files"].toArray()) {
            const QString path = m_root + file.toString();
            if (QFileInfo::exists(path) && !QFile::remove(path)) {
                Print(stderr, u"无法删除 "_s + path);
                undone = false;
            }
        }
        for (const QJsonValue& value : m_record[u"changed"].toArray()) {
            undone = Restore(value.toObject()) && undone;
        }
        // The record lives in a folder the install may have made.
        QFile::remove(m_root + SystemFolder() + u'/' + kRecord);
        const QJsonArray folders = m_record[u"folders"].toArray();
        for (qsizetype i = folders.size() - 1; i >= 0; --i) {
            // Whatever else was put there since stays, and so does its folder.
            QDir().rmdir(m_root + folders.at(i).toString());
        }
        return undone;
    }

private:
    void Append(const QString& key, const QJsonValue& value) {
        QJsonArray list = m_record[key].toArray();
        list.append(value);
        m_record[key] = list;
    }

    bool Restore(const QJsonObject& change) {
        const QString path = m_root + change[u"path"].toString();
        const QByteArray before = QByteArray::fromBase64(change[u"before"].toString().toLatin1());
        const QByteArray after = QByteArray::fromBase64(change[u"after"].toString().toLatin1());
        const std::optional<QByteArray> now = Read(path);
        if (now == after) {
            return WriteFile(path, before);
        }
        // Someone changed the policies since: take out only the extension's entry.
        if (now && path.endsWith(u"policies.json"_s)) {
            const QJsonObject policies = QJsonDocument::fromJson(*now).object();
            return WriteFile(
                path,
                QJsonDocument(WithoutExtension(policies, QJsonDocument::fromJson(before).object()))
                    .toJson());
        }
        Print(stderr, u"%1 在安装后被改过，没有还原"_s.arg(path));
        return false;
    }

    QString m_root;
    QJsonObject m_record;
    QString m_error;
};

QByteArray UpdateManifest(const QString& crx, const QString& version) {
    return QStringLiteral(
               "<?xml version='1.0' encoding='UTF-8'?>\n"
               "<gupdate xmlns='http://www.google.com/update2/response' protocol='2.0'>\n"
               "  <app appid='%1'>\n"
               "    <updatecheck codebase='%2' version='%3' />\n"
               "  </app>\n"
               "</gupdate>\n")
        .arg(QLatin1StringView(kBridgeChromiumId), QUrl::fromLocalFile(crx).toString(),
             version.toHtmlEscaped())
        .toUtf8();
}

bool WriteAll(const SystemInstall& install, Changes& changes) {
    QString guardKey;
    if (install.failClosed) {
        const std::optional<QString> key = GuardPublicKey(install.root);
        if (!key) {
            return false;
        }
        guardKey = *key;
    }
    const QString folder = SystemFolder();
    const QString crx = folder + u"/winwarden.crx"_s;
    const QString xpi = folder + u"/winwarden.xpi"_s;
    const auto packed = [&](const QString& name) {
        return Read(install.packed + u'/' + name).value_or(QByteArray());
    };
    if (!changes.Write(crx, packed(u"winwarden.crx"_s)) ||
        !changes.Write(xpi, packed(u"winwarden.xpi"_s)) ||
        !changes.Write(folder + u"/update.xml"_s, UpdateManifest(crx, install.version))) {
        return false;
    }
    QJsonObject chromium{{u"ExtensionInstallForcelist"_s,
                          QJsonArray{QLatin1StringView(kBridgeChromiumId) + u';' +
                                     QUrl::fromLocalFile(folder + u"/update.xml"_s).toString()}},
                         // A manifest in the user's profile must not replace the system's.
                         {u"NativeMessagingUserLevelHosts"_s, false}};
    if (install.noIncognito) {
        chromium[u"IncognitoModeAvailability"_s] = 1;
    }
    // A guest profile, or a person added without the policies' profile, starts without the
    // extension.
    if (install.noGuest) {
        chromium[u"BrowserGuestModeEnabled"_s] = false;
        chromium[u"BrowserAddPersonEnabled"_s] = false;
    }
    if (install.failClosed) {
        chromium[u"3rdparty"_s] = QJsonObject{
            {u"extensions"_s,
             QJsonObject{{QLatin1StringView(kBridgeChromiumId), ExtensionPolicy(guardKey)}}}};
    }
    for (const ChromiumPlace& place : ChromiumPlaces()) {
        if (!changes.Write(ChromiumPolicy(place), QJsonDocument(chromium).toJson()) ||
            !changes.Write(ChromiumHosts(place) + u'/' + ManifestName(),
                           HostManifest(false, install.host))) {
            return false;
        }
    }
    // Firefox's files go in whether or not a Firefox is installed: a copied or downloaded one
    // reads /etc/firefox/policies and the system's host manifests all the same.
    const bool esr = EsrPresent(install.root);
    if (!changes.Write(kMozillaHosts + u'/' + ManifestName(), HostManifest(true, install.host))) {
        return false;
    }
    QStringList policyFiles{kFirefoxPolicies};
    if (esr) {
        policyFiles.append(kEsrPolicies);
        // ESR installs an unsigned add-on only with this; release Firefox never does.
        if (!changes.Write(kEsrPreferences,
                           "// winwarden: its companion add-on is not signed by Mozilla.\n"
                           "pref(\"xpinstall.signatures.required\", false, locked);\n")) {
            return false;
        }
    }
    for (const QString& path : policyFiles) {
        const std::optional<QByteArray> existing = Read(install.root + path);
        QJsonParseError error{};
        const QJsonDocument document =
            existing ? QJsonDocument::fromJson(*existing, &error) : QJsonDocument(QJsonObject());
        if (!document.isObject()) {
            Print(stderr, u"%1 不是有效的策略文件，没有改动它"_s.arg(install.root + path));
            return false;
        }
        if (!changes.Write(
                path, QJsonDocument(WithExtension(document.object(), xpi, guardKey)).toJson())) {
            return false;
        }
    }
    return true;
}

} // namespace

QString SystemFolder() {
    const QDir programs(QCoreApplication::applicationDirPath());
    const bool installed = programs.dirName() == "bin"_L1 || programs.dirName() == "sbin"_L1;
    const QString prefix = installed ? QDir::cleanPath(programs.absoluteFilePath(u".."_s))
                                     : QStringLiteral(WINWARDEN_INSTALL_PREFIX);
    return prefix + u"/share/winwarden/browser"_s;
}

QByteArray HostManifest(bool gecko, const QString& host) {
    QJsonObject manifest{{u"name"_s, QLatin1StringView(kBridgeHostName)},
                         {u"description"_s, u"winwarden 浏览器桥"_s},
                         {u"path"_s, host},
                         {u"type"_s, u"stdio"_s}};
    if (gecko) {
        manifest[u"allowed_extensions"_s] = QJsonArray{QLatin1StringView(kBridgeGeckoId)};
    } else {
        manifest[u"allowed_origins"_s] =
            QJsonArray{u"chrome-extension://"_s + QLatin1StringView(kBridgeChromiumId) + u'/'};
    }
    return QJsonDocument(manifest).toJson();
}

int InstallSystem(const SystemInstall& install) {
    for (const QString& name : {u"winwarden.crx"_s, u"winwarden.xpi"_s}) {
        if (!QFileInfo(install.packed + u'/' + name).isFile()) {
            Print(stderr, u"找不到打包好的扩展 %1（用 --packed 指定其文件夹）"_s.arg(
                              install.packed + u'/' + name));
            return kExitFailure;
        }
    }
    if (QFileInfo::exists(install.root + SystemFolder() + u'/' + kRecord) &&
        UninstallSystem(install.root) != 0) {
        return kExitFailure;
    }
    Changes changes(install.root);
    if (!WriteAll(install, changes) || !WriteFile(install.root + SystemFolder() + u'/' + kRecord,
                                                  QJsonDocument(changes.Record()).toJson())) {
        Print(stderr,
              changes.Error().isEmpty() ? u"安装失败，已撤销"_s : changes.Error() + u"；已撤销"_s);
        changes.Undo();
        return kExitFailure;
    }
    Print(stdout, u"浏览器重新启动后，扩展由策略强制安装，用户无法停用或删除。"_s);
    return 0;
}

int UninstallSystem(const QString& root) {
    const QString record = root + SystemFolder() + u'/' + kRecord;
    if (!QFileInfo::exists(record)) {
        Print(stdout, u"没有系统范围的安装"_s);
        return 0;
    }
    Changes changes(root, ReadObject(record));
    if (!changes.Undo()) {
        return kExitFailure;
    }
    Print(stdout, u"已删除系统范围的主机清单和浏览器策略"_s);
    return 0;
}

QStringList SystemCoverage(const QString& root, const QString& family) {
    QStringList parts;
    if (family == "firefox"_L1) {
        if (QFileInfo::exists(root + kMozillaHosts + u'/' + ManifestName())) {
            parts.append(u"系统主机清单 "_s + kMozillaHosts + u'/' + ManifestName());
        }
        for (const QString& path : {kEsrPolicies, kFirefoxPolicies}) {
            const QJsonObject policies = ReadObject(root + path)[u"policies"].toObject();
            if (policies[u"ExtensionSettings"].toObject().contains(
                    QLatin1StringView(kBridgeGeckoId))) {
                parts.append(
                    u"强制安装策略 "_s + path + u"（含隐私窗口）"_s +
                    FailsClosedNote(
                        policies[u"3rdparty"][u"Extensions"][QLatin1StringView(kBridgeGeckoId)]));
            }
        }
        return parts;
    }
    for (const ChromiumPlace& place : ChromiumPlaces()) {
        if (place.family != family) {
            continue;
        }
        const QString manifest = ChromiumHosts(place) + u'/' + ManifestName();
        if (QFileInfo::exists(root + manifest)) {
            parts.append(u"系统主机清单 "_s + manifest);
        }
        const QJsonObject policy = ReadObject(root + ChromiumPolicy(place));
        const QString forced = policy[u"ExtensionInstallForcelist"].toArray().at(0).toString();
        if (forced.startsWith(QLatin1StringView(kBridgeChromiumId) + u';')) {
            QString part = u"强制安装策略 "_s + ChromiumPolicy(place);
            if (policy[u"IncognitoModeAvailability"].toInt() == 1) {
                part += u"（无痕模式已关闭）"_s;
            }
            if (policy.contains(u"BrowserGuestModeEnabled"_s)) {
                part += u"（访客模式已关闭）"_s;
            }
            part += FailsClosedNote(
                policy[u"3rdparty"][u"extensions"][QLatin1StringView(kBridgeChromiumId)]);
            parts.append(part);
        }
    }
    return parts;
}

bool SystemBrowserInstalled(const QString& root, const QString& family) {
    QStringList folders;
    if (family == "chromium"_L1) {
        folders = {u"/usr/lib/chromium"_s};
    } else if (family == "chrome"_L1) {
        folders = {u"/opt/google/chrome"_s};
    } else if (family == "firefox"_L1) {
        folders = {u"/usr/lib/firefox-esr"_s, u"/usr/lib/firefox"_s};
    }
    return std::any_of(folders.begin(), folders.end(),
                       [&](const QString& folder) { return QFileInfo(root + folder).isDir(); });
}

QStringList SystemInstallProblems(const QString& root, const QString& family) {
    QStringList problems;
    const auto checkManifest = [&](const QString& manifest) {
        const QString host = ReadObject(root + manifest)[u"path"].toString();
        if (!QFileInfo::exists(root + manifest)) {
            problems.append(u"没有系统主机清单 "_s + manifest);
        } else if (!QFileInfo(root + host).isExecutable()) {
            problems.append(u"%1 指向的 %2 不存在或不能执行"_s.arg(manifest, host));
        }
    };
    if (family == "firefox"_L1) {
        checkManifest(kMozillaHosts + u'/' + ManifestName());
        // Every Firefox reads /etc/firefox's, a copy in a home folder too.
        QStringList files{kFirefoxPolicies};
        if (EsrPresent(root)) {
            files.append(kEsrPolicies);
        }
        for (const QString& path : std::as_const(files)) {
            const QJsonValue entry = ReadObject(
                root + path)[u"policies"][u"ExtensionSettings"][QLatin1StringView(kBridgeGeckoId)];
            if (entry[u"installation_mode"] != u"force_installed"_s) {
                problems.append(u"%1 没有强制安装扩展"_s.arg(path));
            }
            CheckGuardKey(root, path,
                          ReadObject(root + path)[u"policies"][u"3rdparty"][u"Extensions"]
                                                 [QLatin1StringView(kBridgeGeckoId)],
                          problems);
        }
        return problems;
    }
    for (const ChromiumPlace& place : ChromiumPlaces()) {
        if (place.family != family) {
            continue;
        }
        checkManifest(ChromiumHosts(place) + u'/' + ManifestName());
        const QJsonObject policy = ReadObject(root + ChromiumPolicy(place));
        const QString forced = policy[u"ExtensionInstallForcelist"].toArray().at(0).toString();
        if (!QFileInfo::exists(root + ChromiumPolicy(place))) {
            problems.append(u"没有策略文件 "_s + ChromiumPolicy(place));
            continue;
        }
        if (!forced.startsWith(QLatin1StringView(kBridgeChromiumId) + u';')) {
            problems.append(u"%1 没有强制安装扩展"_s.arg(ChromiumPolicy(place)));
        }
        if (policy[u"NativeMessagingUserLevelHosts"] != QJsonValue(false)) {
            problems.append(u"%1 没有禁止用户自己的主机清单"_s.arg(ChromiumPolicy(place)));
        }
        CheckGuardKey(root, ChromiumPolicy(place),
                      policy[u"3rdparty"][u"extensions"][QLatin1StringView(kBridgeChromiumId)],
                      problems);
    }
    return problems;
}

} // namespace winwarden
