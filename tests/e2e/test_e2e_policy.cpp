// The companion add-on in a real Firefox ESR with no debugging port, installed for everyone by
// policy in a private mount namespace: in a private window it reports its tabs, and, told to
// fail closed, refuses web pages without a guard, then blocks sites ahead through one.
// (Chromium's policy install: e2e.test_e2e_guard.)
#include "platform/bridgeprotocol.h"
#include "sources/bridge/bridgesource.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/nativehost.h"
#include "tests/support/privatesystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QTest>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

const QString kFirefox = u"/usr/bin/firefox-esr"_s;

// Firefox in a private window on the opener page, pop-ups allowed, through the pages' proxy;
// the opener opens the driver.
bool StartFirefox(BrowserProcess& firefox, const PageServer& pages) {
    const QByteArray prefs = "user_pref(\"network.proxy.type\", 1);\n"
                             "user_pref(\"network.proxy.http\", \"127.0.0.1\");\n"
                             "user_pref(\"network.proxy.http_port\", " +
                             pages.Proxy().section(u':', 1).toLatin1() +
                             ");\n"
                             "user_pref(\"dom.security.https_first\", false);\n"
                             "user_pref(\"dom.security.https_first_pbm\", false);\n";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_s, firefox.Path(u"home"_s));
    environment.insert(u"MOZ_HEADLESS"_s, u"1"_s);
    environment.remove(u"XDG_CONFIG_HOME"_s);
    return WritePages(firefox, PageServer::Driver()) &&
           WriteFile(firefox.Path(u"profile/user.js"_s),
                     prefs + "user_pref(\"dom.disable_open_during_load\", false);\n"
                             "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
                             "user_pref(\"datareporting.policy.dataSubmissionEnabled\", "
                             "false);\n") &&
           firefox.Start(kFirefox,
                         {u"--headless"_s, u"--no-remote"_s, u"--profile"_s,
                          firefox.Path(u"profile"_s), u"--private-window"_s,
                          firefox.Url(u"pages/opener.html"_s)},
                         environment);
}

// The add-on says the administrator installed it, the opener's tab is private, the browser is
// not reported as running without the add-on, and the pages are recorded and blocked. The first
// messages go to a stand-in that then leaves for the bridge.
void CheckPolicyRun(const BrowserProcess& browser) {
    QJsonObject hello, tab;
    {
        FakeWinwarden stand;
        QVERIFY(stand.Listen(BridgeSocketPath()));
        const auto greeted = [&] {
            for (const QJsonObject& message : stand.Messages()) {
                if (!message[u"install"].toString().isEmpty())
                    hello = message;
                for (const QJsonValue& entry : message[u"tabs"].toArray())
                    if (entry[u"url"] == browser.Url(u"pages/opener.html"_s))
                        tab = entry.toObject();
            }
            return !hello.isEmpty() && !tab.isEmpty();
        };
        QVERIFY2(QTest::qWaitFor(greeted, 30000), "no hello, or no tab with the page");
    }
    QCOMPARE(hello[u"install"].toString(), u"admin"_s);
    QCOMPARE(tab[u"incognito"], QJsonValue(true));
    {
        using namespace std::chrono_literals;
        const auto source = MakeBridgeSource({.grace = 0ms, .interval = 0ms, .settle = 0ms});
        QVERIFY(QTest::qWaitFor([&] { return source->TakePass().browsersRead == 1; }, 10000));
        QCOMPARE(source->TakePass().notices, std::vector<QString>{});
    }
    RecordAndBlock(browser);
}

// Told by its policy to fail closed, with no guard ever: 10 s on, web pages show the extension's
// page and never reach the server, though the user's own winwarden answers. A guard (root's
// socket in its place) answering opens them again, and blocks sites ahead.
void CheckFailsClosed(PageServer& pages) {
    const QString shut = u"浏览哨兵未运行，暂时不能打开网页"_s;
    {
        const auto own = MakeBridgeSource();
        const auto shown = [&] {
            const std::vector<BrowserWindow> windows = own->TakePass().windows;
            return std::any_of(windows.begin(), windows.end(),
                               [&](const BrowserWindow& window) { return window.title == shut; });
        };
        bool refused = false;
        QString host;
        for (int n = 0; !refused && n < 40; ++n) {
            host = u"shut%1.test"_s.arg(n);
            pages.Open(u"http://"_s + host + u'/');
            refused = QTest::qWaitFor(shown, 1000);
        }
        QVERIFY2(refused, "web pages still open without a guard");
        QVERIFY(!pages.Saw(host));
    }
    QVERIFY(QDir().mkpath(QLatin1StringView(kGuardRuntimeDir)));
    BlockSitesAhead(pages, MakeSystemBridgeSource(QLatin1StringView(kSystemBridgeSocket), {}));
}

} // namespace

class TestE2ePolicy final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firefoxGetsTheAddOnByPolicyForPrivateWindows() {
        if (!QFileInfo(kFirefox).isExecutable())
            QSKIP("firefox-esr is not installed (tools/install-deps.sh installs it)");
        RuntimeFolder runtime;
        QCOMPARE(BrowserTool({u"install"_s, u"--system"_s, u"--fail-closed"_s, u"--host"_s,
                              QFileInfo(HostProgram()).canonicalFilePath()}),
                 0);
        PageServer pages;
        BrowserProcess firefox;
        QVERIFY(StartFirefox(firefox, pages));
        CheckPolicyRun(firefox);
        CheckFailsClosed(pages);
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
