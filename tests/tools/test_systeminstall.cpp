// winwarden-browser install --system and uninstall --system, on the real system paths of a
// private mount namespace: what the policies say, that Firefox's own policies survive, and
// that uninstall leaves every folder as it was.
#include "platform/bridgeprotocol.h"
#include "tests/support/nativehost.h"
#include "tests/support/privatesystem.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

const QString kEsrPolicies = u"/usr/share/firefox-esr/distribution/policies.json"_s;
const QByteArray kDebianPolicies =
    "{\"policies\": {\"DisableAppUpdate\": true,\n"
    "  \"ExtensionSettings\": {\"other@example.org\": {\"installation_mode\": \"blocked\"}}}}\n";

// Every path under the system folders with its file's contents.
QStringList Tree() {
    QStringList entries;
    for (const QString& root : SystemFolders()) {
        QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            entries.append(
                path + u' ' + QString::number(int(QFileInfo(path).permissions())) + u' ' +
                (file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString()));
        }
    }
    entries.sort();
    return entries;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject ReadJson(const QString& path) {
    return QJsonDocument::fromJson(ReadAll(path)).object();
}

int Tool(const QStringList& arguments, QString* output = nullptr) {
    QProcess tool;
    tool.start(QCoreApplication::applicationDirPath() + u"/../tools/winwarden-browser"_s,
               arguments);
    tool.waitForFinished(20000);
    if (output != nullptr) {
        *output = QString::fromUtf8(tool.readAllStandardOutput());
    }
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

} // namespace

class TestSystemInstall final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void policiesForceTheExtensionInAndUninstallLeavesNoTrace() {
        const bool esr = QFileInfo(u"/usr/share/firefox-esr"_s).isDir();
        if (esr) {
            QFile debian(kEsrPolicies);
            QVERIFY(debian.open(QIODevice::WriteOnly));
            debian.write(kDebianPolicies);
        }
        const QStringList before = Tree();
        const QString host = QFileInfo(HostProgram()).canonicalFilePath();
        const QStringList install{u"install"_s,    u"--system"_s, u"--no-incognito"_s,
                                  u"--no-guest"_s, u"--host"_s,   host};
        QCOMPARE(Tool(install), 0);

        const QString update = u"file:///usr/local/share/winwarden/browser/update.xml"_s;
        for (const QString& base : {u"/etc/chromium"_s, u"/etc/opt/chrome"_s}) {
            const QJsonObject policy = ReadJson(base + u"/policies/managed/winwarden.json"_s);
            QCOMPARE(policy[u"ExtensionInstallForcelist"].toArray(),
                     QJsonArray{QLatin1StringView(kBridgeChromiumId) + u';' + update});
            QCOMPARE(policy[u"NativeMessagingUserLevelHosts"], QJsonValue(false));
            QCOMPARE(policy[u"IncognitoModeAvailability"], QJsonValue(1));
            QCOMPARE(policy[u"BrowserGuestModeEnabled"], QJsonValue(false));
            const QJsonObject manifest =
                ReadJson(base + u"/native-messaging-hosts/net.winwarden.host.json"_s);
            QCOMPARE(manifest[u"path"].toString(), host);
            QCOMPARE(manifest[u"allowed_origins"].toArray(), QJsonArray{AllowedOrigin()});
        }
        const QByteArray updateXml = ReadAll(u"/usr/local/share/winwarden/browser/update.xml"_s);
        QVERIFY(updateXml.contains("appid='nmmkcloaiigldlkhkbnmgnjkbgnifpek'"));
        QVERIFY(updateXml.contains(
            "codebase='file:///usr/local/share/winwarden/browser/winwarden.crx' version='1.0.0'"));
        QVERIFY(ReadAll(u"/usr/local/share/winwarden/browser/winwarden.crx"_s).startsWith("Cr24"));

        QString status;
        QCOMPARE(Tool({u"status"_s}, &status), 0);
        QVERIFY2(status.contains(u"chromium：系统主机清单 /etc/chromium/native-messaging-hosts/"
                                 u"net.winwarden.host.json；强制安装策略 /etc/chromium/policies/"
                                 u"managed/winwarden.json（无痕模式已关闭）（访客模式已关闭）"_s),
                 qPrintable(status));
        if (esr) {
            // Debian's own policies stay beside the extension's.
            const QJsonObject policies = ReadJson(kEsrPolicies)[u"policies"].toObject();
            QCOMPARE(policies[u"DisableAppUpdate"], QJsonValue(true));
            const QJsonObject settings = policies[u"ExtensionSettings"].toObject();
            QCOMPARE(settings.keys(),
                     (QStringList{u"other@example.org"_s, u"winwarden@winwarden.net"_s}));
            QCOMPARE(settings[u"winwarden@winwarden.net"].toObject(),
                     (QJsonObject{{u"installation_mode"_s, u"force_installed"_s},
                                  {u"install_url"_s,
                                   u"file:///usr/local/share/winwarden/browser/winwarden.xpi"_s},
                                  {u"private_browsing"_s, true}}));
            QVERIFY(ReadAll(u"/etc/firefox-esr/winwarden.js"_s)
                        .contains("pref(\"xpinstall.signatures.required\", false, locked);"));
            QVERIFY(
                status.contains(u"firefox：系统主机清单 /usr/lib/mozilla/native-messaging-hosts/"
                                u"net.winwarden.host.json；强制安装策略 "_s +
                                kEsrPolicies));
        }

        // Installing again replaces the first install; uninstall then leaves no trace.
        QCOMPARE(Tool({u"install"_s, u"--system"_s, u"--host"_s, host}), 0);
        QVERIFY(!ReadJson(u"/etc/chromium/policies/managed/winwarden.json"_s)
                     .contains(u"IncognitoModeAvailability"_s));
        QCOMPARE(Tool({u"uninstall"_s, u"--system"_s}), 0);
        QCOMPARE(Tree(), before);

        if (esr) {
            // Policies changed by someone else after the install keep that change.
            QCOMPARE(Tool({u"install"_s, u"--system"_s, u"--host"_s, host}), 0);
            QJsonObject changed = ReadJson(kEsrPolicies);
            QJsonObject policies = changed[u"policies"].toObject();
            policies[u"DisablePrivateBrowsing"_s] = false;
            changed[u"policies"_s] = policies;
            QFile file(kEsrPolicies);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QJsonDocument(changed).toJson());
            file.close();
            QCOMPARE(Tool({u"uninstall"_s, u"--system"_s}), 0);
            const QJsonObject after = ReadJson(kEsrPolicies)[u"policies"].toObject();
            QCOMPARE(after.keys(), (QStringList{u"DisableAppUpdate"_s, u"DisablePrivateBrowsing"_s,
                                                u"ExtensionSettings"_s}));
            QCOMPARE(after[u"ExtensionSettings"].toObject().keys(),
                     QStringList{u"other@example.org"_s});
        }
    }

    // Staged under another root, the files name the paths the browsers will see.
    void aRootFolderPrefixesEveryPathButTheAddresses() {
        QTemporaryDir root;
        const QString host = QFileInfo(HostProgram()).canonicalFilePath();
        QCOMPARE(Tool({u"install"_s, u"--system"_s, u"--root"_s, root.path(), u"--host"_s, host}),
                 0);
        const QJsonObject policy =
            ReadJson(root.filePath(u"etc/chromium/policies/managed/winwarden.json"_s));
        QVERIFY(policy[u"ExtensionInstallForcelist"][0].toString().endsWith(
            u";file:///usr/local/share/winwarden/browser/update.xml"_s));
        QVERIFY(!QFileInfo::exists(u"/etc/chromium/policies"_s));
        QCOMPARE(Tool({u"uninstall"_s, u"--system"_s, u"--root"_s, root.path()}), 0);
        QCOMPARE(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    void aKeyOfAnotherExtensionIsRefused() {
        QTemporaryDir dir;
        QCOMPARE(QProcess::execute(u"openssl"_s, {u"genrsa"_s, u"-out"_s,
                                                  dir.filePath(u"other.pem"_s), u"2048"_s}),
                 0);
        const QString extension =
            QFileInfo(QStringLiteral(__FILE__)).absoluteDir().filePath(u"../../extension"_s);
        QCOMPARE(Tool({u"pack"_s, u"--extension"_s, extension, u"--key"_s,
                       dir.filePath(u"other.pem"_s), u"--out"_s, dir.filePath(u"out"_s)}),
                 1);
        QVERIFY(!QFileInfo::exists(dir.filePath(u"out"_s)));
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
