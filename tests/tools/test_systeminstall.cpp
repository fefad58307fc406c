// winwarden-browser for one user (a temporary home) and for everyone (in a private namespace).
#include "platform/bridgeprotocol.h"
#include "signing/guardkey.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/guardrun.h"
#include "tests/support/nativehost.h"
#include "tests/support/privatesystem.h"
#include "tools/systeminstall.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

const QString kEsrPolicies = u"/usr/share/firefox-esr/distribution/policies.json"_s;
const QString kFirefoxPolicies = u"/etc/firefox/policies/policies.json"_s;

QJsonObject ReadJson(const QString& path) {
    return QJsonDocument::fromJson(ReadFile(path)).object();
}

QString Host() {
    return QFileInfo(HostProgram()).canonicalFilePath();
}

} // namespace

class TestSystemInstall final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Chrome is on the PATH, Brave and Firefox have their folders; Chromium has neither.
    void installsForTheUsersBrowsersAndUninstallsExactly() {
        QTemporaryDir home;
        QVERIFY(WriteFile(home.filePath(u"bin/google-chrome"_s), {}) &&
                QFile::setPermissions(home.filePath(u"bin/google-chrome"_s),
                                      QFile::ExeOwner | QFile::ReadOwner));
        QVERIFY(QDir(home.path()).mkpath(u".config/BraveSoftware/Brave-Browser/Default"_s));
        QVERIFY(QDir(home.path()).mkpath(u".mozilla/firefox"_s));
        QProcessEnvironment user = QProcessEnvironment::systemEnvironment();
        user.insert(u"HOME"_s, home.path());
        user.insert(u"PATH"_s, home.filePath(u"bin"_s));
        user.remove(u"XDG_CONFIG_HOME"_s);
        const QByteArray before = Snapshot({home.path()});
        QCOMPARE(BrowserTool({u"install"_s, u"--host"_s, Host()}, user), 0);
        for (const QString& folder :
             {u".config/google-chrome/NativeMessagingHosts"_s,
              u".config/BraveSoftware/Brave-Browser/NativeMessagingHosts"_s}) {
            const QJsonObject manifest =
                ReadJson(home.filePath(folder + u"/net.winwarden.host.json"_s));
            QCOMPARE(manifest[u"path"].toString(), Host());
            QCOMPARE(manifest[u"allowed_origins"].toArray(), QJsonArray{AllowedOrigin()});
        }
        const QJsonObject firefox =
            ReadJson(home.filePath(u".mozilla/native-messaging-hosts/net.winwarden.host.json"_s));
        QCOMPARE(firefox[u"allowed_extensions"].toArray(),
                 QJsonArray{QLatin1StringView(kBridgeGeckoId)});
        QVERIFY(!QFileInfo::exists(home.filePath(u".config/chromium"_s)));
        QCOMPARE(BrowserTool({u"uninstall"_s}, user), 0);
        QCOMPARE(Snapshot({home.path()}), before);
    }

    void policiesForceTheExtensionInAndUninstallLeavesNoTrace() {
        const bool esr = QFileInfo(u"/usr/share/firefox-esr"_s).isDir();
        QVERIFY(!esr || WriteFile(kEsrPolicies, "{\"policies\": {\"DisableAppUpdate\": true}}\n"));
        // The guard's user, who has never started: the install makes its key, for it.
        QVERIFY(Append(u"/etc/passwd"_s,
                       "winwarden:x:4240:4240::/var/lib/winwarden:/usr/sbin/nologin\n"));
        const QByteArray before = Snapshot(SystemFolders());
        QCOMPARE(BrowserTool({u"install"_s, u"--system"_s, u"--no-incognito"_s, u"--no-guest"_s,
                              u"--fail-closed"_s, u"--host"_s, Host()}),
                 0);
        QString error;
        const auto key = GuardKey::Load(QLatin1StringView(kGuardKeyFile), &error);
        QVERIFY2(key, qPrintable(error));
        for (const auto& [path, mode] : {std::pair{QLatin1StringView(kGuardKeyFile), 0600u},
                                         std::pair{"/var/lib/winwarden"_L1, 0750u}}) {
            struct stat info {};
            QVERIFY(::stat(path.data(), &info) == 0);
            QCOMPARE(info.st_uid, uid_t(4240));
            QCOMPARE(info.st_mode & 07777, mode);
        }
        const QJsonObject extensionPolicy{
            {u"failClosed"_s, true},
            {u"guardKey"_s, QString::fromLatin1(key->PublicKey().toBase64())}};
        // Compared whole, so that no value is weakened or left out.
        const QString folder = u"/usr/local/share/winwarden/browser"_s;
        const QJsonObject forced{
            {u"ExtensionInstallForcelist"_s, QJsonArray{QLatin1StringView(kBridgeChromiumId) +
                                                        u";file://"_s + folder + u"/update.xml"_s}},
            {u"NativeMessagingUserLevelHosts"_s, false},
            {u"IncognitoModeAvailability"_s, 1},
            {u"BrowserGuestModeEnabled"_s, false},
            {u"BrowserAddPersonEnabled"_s, false},
            {u"3rdparty"_s,
             QJsonObject{{u"extensions"_s,
                          QJsonObject{{QLatin1StringView(kBridgeChromiumId), extensionPolicy}}}}}};
        for (const QString& base : {u"/etc/chromium"_s, u"/etc/opt/chrome"_s})
            QCOMPARE(ReadJson(base + u"/policies/managed/winwarden.json"_s), forced);
        const QJsonObject firefoxForced{
            {u"ExtensionSettings"_s,
             QJsonObject{
                 {u"winwarden@winwarden.net"_s,
                  QJsonObject{{u"installation_mode"_s, u"force_installed"_s},
                              {u"install_url"_s, u"file://"_s + folder + u"/winwarden.xpi"_s},
                              {u"private_browsing"_s, true}}}}},
            {u"DisableSafeMode"_s, true},
            {u"3rdparty"_s, QJsonObject{{u"Extensions"_s, QJsonObject{{u"winwarden@winwarden.net"_s,
                                                                       extensionPolicy}}}}}};
        // Read by every Firefox, a copy in a home folder too, whether or not one is installed.
        QCOMPARE(ReadJson(kFirefoxPolicies), (QJsonObject{{u"policies"_s, firefoxForced}}));
        if (esr) { // Debian's own policies stay beside the extension's.
            QJsonObject policies = firefoxForced;
            policies[u"DisableAppUpdate"_s] = true;
            QCOMPARE(ReadJson(kEsrPolicies)[u"policies"].toObject(), policies);
            QVERIFY(ReadFile(u"/etc/firefox-esr/winwarden.js"_s)
                        .contains("pref(\"xpinstall.signatures.required\", false, locked);"));
        }
        QCOMPARE(BrowserTool({u"uninstall"_s, u"--system"_s}), 0);
        QCOMPARE(Snapshot(SystemFolders()), before);
        QVERIFY(!QFileInfo::exists(kFirefoxPolicies));
        // The key is the guard's: a second install names the same one.
        QCOMPARE(
            BrowserTool({u"install"_s, u"--system"_s, u"--fail-closed"_s, u"--host"_s, Host()}), 0);
        QCOMPARE(ReadJson(kFirefoxPolicies)[u"policies"][u"3rdparty"][u"Extensions"]
                                           [u"winwarden@winwarden.net"],
                 extensionPolicy);
        // --check tells a policy naming another key, which would keep the browsers closed.
        const auto keyProblems = [] {
            QStringList found;
            for (const QString& family : {u"chromium"_s, u"firefox"_s})
                for (const QString& problem : SystemInstallProblems({}, family))
                    if (problem.contains(u"公钥"_s))
                        found.append(problem);
            return found;
        };
        QCOMPARE(keyProblems(), QStringList{});
        QVERIFY(QFile::remove(QLatin1StringView(kGuardKeyFile)) &&
                GuardKey::LoadOrCreate(QLatin1StringView(kGuardKeyFile), {4240, 4240}, &error));
        QCOMPARE(keyProblems().size(), esr ? 3 : 2); // Chromium's, /etc/firefox's, ESR's
        QCOMPARE(BrowserTool({u"uninstall"_s, u"--system"_s}), 0);
        if (!esr)
            return;
        // Policies changed by someone since: uninstall takes out only the extension's entries.
        QCOMPARE(
            BrowserTool({u"install"_s, u"--system"_s, u"--fail-closed"_s, u"--host"_s, Host()}), 0);
        QJsonObject policies = ReadJson(kEsrPolicies)[u"policies"].toObject();
        policies[u"DisableTelemetry"_s] = true;
        QVERIFY(WriteFile(kEsrPolicies,
                          QJsonDocument(QJsonObject{{u"policies"_s, policies}}).toJson()));
        QCOMPARE(BrowserTool({u"uninstall"_s, u"--system"_s}), 0);
        QCOMPARE(ReadJson(kEsrPolicies),
                 (QJsonObject{{u"policies"_s, QJsonObject{{u"DisableAppUpdate"_s, true},
                                                          {u"DisableTelemetry"_s, true}}}}));
    }
};

int main(int argc, char** argv) {
    return RunWithPrivateSystemFolders(argc, argv, [&] {
        QCoreApplication app(argc, argv);
        TestSystemInstall test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_systeminstall.moc"
