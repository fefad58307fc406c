// The companion extension in real browsers, with no debugging port anywhere: Chromium with
// the extension loaded unpacked and the host manifest in its own profile, and Firefox ESR
// with the add-on in a temporary profile, in a private window. The monitor in this process
// records their pages through the bridge and closes the one that another program blocks.
#include "tests/support/bridgebrowser.h"
#include "tests/support/nativehost.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <unistd.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

QString ExtensionFolder() {
    return QFileInfo(QStringLiteral(__FILE__)).absoluteDir().filePath(u"../../extension"_s);
}

} // namespace

class TestE2eBridge final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void chromiumPagesAreRecordedAndBlocked() {
        RuntimeFolder runtime;
        BridgeBrowser chromium;
        QVERIFY(chromium.WritePages());
        const QJsonObject manifest{{u"name"_s, u"net.winwarden.host"_s},
                                   {u"description"_s, u"winwarden"_s},
                                   {u"type"_s, u"stdio"_s},
                                   {u"path"_s, QFileInfo(HostProgram()).canonicalFilePath()},
                                   {u"allowed_origins"_s, QJsonArray{AllowedOrigin()}}};
        QVERIFY(WriteFile(chromium.Path(u"profile/NativeMessagingHosts/net.winwarden.host.json"_s),
                          QJsonDocument(manifest).toJson()));
        QVERIFY(
            chromium.Start(u"/usr/bin/chromium"_s, HeadlessChromiumFlags(chromium)
                                                       << u"--load-extension="_s + ExtensionFolder()
                                                       << chromium.Url(u"pages/opener.html"_s)));
        RecordAndBlock(chromium);
    }

    void firefoxPrivateWindowPagesAreRecordedAndBlocked() {
        if (!QFileInfo(u"/usr/bin/firefox-esr"_s).isExecutable()) {
            QSKIP("firefox-esr is not installed (tools/install-deps.sh installs it)");
        }
        RuntimeFolder runtime;
        BridgeBrowser firefox;
        QVERIFY(firefox.WritePages());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, firefox.Path(u"home"_s));
        environment.insert(u"MOZ_HEADLESS"_s, u"1"_s);
        environment.remove(u"XDG_CONFIG_HOME"_s);
        QVERIFY(QDir().mkpath(firefox.Path(u"home/.mozilla"_s)));
        // The host manifest as a user installs it.
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.start(QCoreApplication::applicationDirPath() + u"/../tools/winwarden-browser"_s,
                   {u"install"_s, u"--host"_s, HostProgram()});
        QVERIFY(tool.waitForFinished(10000) && tool.exitCode() == 0);
        // The add-on unpacked (a file naming its folder), unsigned add-ons allowed as ESR
        // permits, installed without asking, and let into private windows.
        QVERIFY(WriteFile(firefox.Path(u"profile/extensions/winwarden@winwarden.net"_s),
                          ExtensionFolder().toUtf8()));
        QVERIFY(WriteFile(firefox.Path(u"profile/user.js"_s),
                          "user_pref(\"xpinstall.signatures.required\", false);\n"
                          "user_pref(\"extensions.autoDisableScopes\", 0);\n"
                          "user_pref(\"extensions.enabledScopes\", 15);\n"
                          "user_pref(\"dom.disable_open_during_load\", false);\n"
                          "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
                          "user_pref(\"app.update.enabled\", false);\n"
                          "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"));
        QVERIFY(WriteFile(
            firefox.Path(u"profile/extension-preferences.json"_s),
            QJsonDocument(
                QJsonObject{{u"winwarden@winwarden.net"_s,
                             QJsonObject{{u"permissions"_s,
                                          QJsonArray{u"internal:privateBrowsingAllowed"_s}},
                                         {u"origins"_s, QJsonArray{}}}}})
                .toJson()));
        QVERIFY(firefox.Start(u"/usr/bin/firefox-esr"_s,
                              {u"--headless"_s, u"--no-remote"_s, u"--profile"_s,
                               firefox.Path(u"profile"_s), u"--private-window"_s,
                               firefox.Url(u"pages/opener.html"_s)},
                              environment));
        RecordAndBlock(firefox);
    }
};

QTEST_GUILESS_MAIN(TestE2eBridge)
#include "test_e2e_bridge.moc"
