// Installed for everyone as root, inside a private mount namespace with copies of the system
// folders: real browsers started with no extension flags get the companion extension from the
// managed policies and report it as admin-installed; Chromium opens no incognito window when
// told not to; a blocked page in a Firefox private window is closed; and a browser that runs
// without the extension is noticed.
#include "platform/bridgeprotocol.h"
#include "platform/browserprocesses.h"
#include "sources/bridge/bridgesource.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/nativehost.h"
#include "tests/support/privatesystem.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QTest>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

int Tool(const QStringList& arguments) {
    QProcess tool;
    tool.start(QCoreApplication::applicationDirPath() + u"/../tools/winwarden-browser"_s,
               arguments);
    tool.waitForFinished(20000);
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

int InstallForEveryone(const QStringList& options) {
    return Tool(QStringList{u"install"_s, u"--system"_s, u"--host"_s,
                            QFileInfo(HostProgram()).canonicalFilePath()} +
                options);
}

// The browser's first words to a stand-in for winwarden, which then goes away so that the
// real bridge can take its place: its hello once it knows how it was installed, and a tab
// list that shows `page`.
void Greet(const QString& page, QJsonObject* hello, QJsonObject* tab) {
    FakeWinwarden stand;
    QVERIFY(stand.Listen(BridgeSocketPath()));
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     for (const QJsonObject& message : stand.Messages()) {
                         if (message[u"type"] == u"hello"_s &&
                             !message[u"install"].toString().isEmpty()) {
                             *hello = message;
                         }
                         for (const QJsonValue& entry : message[u"tabs"].toArray()) {
                             if (entry[u"url"] == page) {
                                 *tab = entry.toObject();
                             }
                         }
                     }
                     return !hello->isEmpty() && !tab->isEmpty();
                 },
                 30000),
             "no hello from the extension, or no tab with the page");
}

// Without background networking Chromium never fetches a forced extension, file:// or not.
QStringList PolicyChromiumFlags(const BridgeBrowser& browser) {
    QStringList flags = HeadlessChromiumFlags(browser);
    flags.removeAll(u"--disable-background-networking"_s);
    return flags;
}

// Once connected, the browser is not one that runs without the extension, not even for a
// source that reports that at once.
void NotReportedOnceConnected() {
    using namespace std::chrono_literals;
    const auto source = MakeBridgeSource({RunningBrowserFamilies, 0ms, 0ms, 0ms});
    QVERIFY(QTest::qWaitFor([&] { return source->TakePass().browsersRead == 1; }, 10000));
    QCOMPARE(source->TakePass().notices, std::vector<QString>{});
}

} // namespace

class TestE2ePolicy final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Before any install: the browser has no way to the bridge, and the source says so.
    void aBrowserWithoutTheExtensionIsNoticed() {
        using namespace std::chrono_literals;
        RuntimeFolder runtime;
        const auto source = MakeBridgeSource({RunningBrowserFamilies, 2s, 200ms, 200ms});
        const std::vector<QString> missing{u"Chromium 正在运行，但没有连上浏览哨兵扩展"_s};
        {
            BridgeBrowser chromium;
            QVERIFY(chromium.Start(u"/usr/bin/chromium"_s, HeadlessChromiumFlags(chromium)
                                                               << u"about:blank"_s));
            QVERIFY(QTest::qWaitFor([&] { return source->TakePass().notices == missing; }, 10000));
        }
        QVERIFY(QTest::qWaitFor([&] { return source->TakePass().notices.empty(); }, 5000));
    }

    void chromiumGetsTheExtensionByPolicyAndNoIncognito() {
        RuntimeFolder runtime;
        QCOMPARE(InstallForEveryone({u"--no-incognito"_s}), 0);
        BridgeBrowser chromium;
        QVERIFY(chromium.WritePages());
        // Asked for an incognito window, it opens the page in a normal one.
        QVERIFY(chromium.Start(u"/usr/bin/chromium"_s,
                               PolicyChromiumFlags(chromium)
                                   << u"--incognito"_s << chromium.Url(u"pages/opener.html"_s)));
        QJsonObject hello;
        QJsonObject tab;
        Greet(chromium.Url(u"pages/opener.html"_s), &hello, &tab);
        QCOMPARE(hello[u"install"].toString(), u"admin"_s);
        QCOMPARE(hello[u"caller"].toString(), AllowedOrigin());
        QCOMPARE(tab[u"incognito"], QJsonValue(false));
        NotReportedOnceConnected();
        RecordAndBlock(chromium);
    }

    void firefoxGetsTheAddOnByPolicyForPrivateWindows() {
        if (!QFileInfo(u"/usr/bin/firefox-esr"_s).isExecutable()) {
            QSKIP("firefox-esr is not installed (tools/install-deps.sh installs it)");
        }
        RuntimeFolder runtime;
        QCOMPARE(InstallForEveryone({}), 0);
        BridgeBrowser firefox;
        QVERIFY(firefox.WritePages());
        QVERIFY(WriteFile(firefox.Path(u"profile/user.js"_s),
                          "user_pref(\"dom.disable_open_during_load\", false);\n"
                          "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
                          "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, firefox.Path(u"home"_s));
        environment.insert(u"MOZ_HEADLESS"_s, u"1"_s);
        environment.remove(u"XDG_CONFIG_HOME"_s);
        QVERIFY(firefox.Start(u"/usr/bin/firefox-esr"_s,
                              {u"--headless"_s, u"--no-remote"_s, u"--profile"_s,
                               firefox.Path(u"profile"_s), u"--private-window"_s,
                               firefox.Url(u"pages/opener.html"_s)},
                              environment));
        QJsonObject hello;
        QJsonObject tab;
        Greet(firefox.Url(u"pages/opener.html"_s), &hello, &tab);
        QCOMPARE(hello[u"install"].toString(), u"admin"_s);
        QCOMPARE(tab[u"incognito"], QJsonValue(true));
        NotReportedOnceConnected();
        RecordAndBlock(firefox);
    }
};

int main(int argc, char** argv) {
    return RunWithPrivateSystemFolders(argc, argv, [&] {
        QCoreApplication app(argc, argv);
        TestE2ePolicy test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_e2e_policy.moc"
