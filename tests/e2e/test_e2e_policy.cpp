// The companion add-on in a real Firefox ESR with no debugging port, installed for everyone by
// policy in a private mount namespace: in a private window it reports its tabs, and, told to
// fail closed, refuses web pages without a guard, then blocks sites ahead through one.
// (Chromium's policy install: e2e.test_e2e_guard.)
#include "engine/monitorengine.h"
#include "platform/bridgeprotocol.h"
#include "sources/bridge/bridgesource.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/nativehost.h"
#include "tests/support/privatesystem.h"
#include "tests/support/testdb.h"

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

// The window titled `title` in the source's pass, if any.
std::optional<BrowserWindow> Find(BrowserSource& source, const QString& title) {
    for (const BrowserWindow& window : source.TakePass().windows)
        if (window.title == title)
            return window;
    return std::nullopt;
}

// Both pages are recorded as 通过 with their URLs; blocked by another program, one closes.
void RecordAndBlock(const BrowserProcess& browser) {
    TempRuleDb db;
    auto source = MakeBridgeSource();
    BrowserSource& bridge = *source;
    MonitorEngine engine(std::move(source));
    engine.OpenStore(db.path());
    engine.Start();
    const auto recorded = [&](const QString& title, const QString& page) {
        return db.rows().contains(RuleRow{title, u"通过"_s, browser.Url(page)});
    };
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     return recorded(kBlockedTitle, u"pages/blocked.html"_s) &&
                            recorded(kOpenerTitle, u"pages/opener.html"_s);
                 },
                 60000),
             "the pages were never recorded");
    QCOMPARE(RunSqlite3(db.path(), u"UPDATE 窗口名表 SET 是否禁止='禁止' WHERE "
                                   u"窗口名称='坏页 O''Brien & Co';"_s),
             0);
    QVERIFY2(QTest::qWaitFor([&] { return !Find(bridge, kBlockedTitle); }, 10000),
             "the blocked page stayed open");
    QVERIFY(Find(bridge, kOpenerTitle));
    QCOMPARE(db.rows().size(), 2);
}

// 网站 rules written into the database by another program, in force through the engine and
// `source`, which the browser's extension reaches: they refuse pages before they load. A
// blocked host and its sub-domains show the extension's page naming the host and never reach
// the server; a longer 通过 rule lets its site through.
void BlockSitesAhead(PageServer& pages, std::unique_ptr<BrowserSource> source) {
    TempRuleDb db;
    BrowserSource& bridge = *source;
    MonitorEngine engine(std::move(source));
    engine.OpenStore(db.path());
    engine.Start();
    const QString blocked = u"此网站已被浏览哨兵禁止："_s;
    const auto shown = [&](const QString& title, int timeoutMs = 10000) {
        return QTest::qWaitFor([&] { return Find(bridge, title).has_value(); }, timeoutMs);
    };
    QCOMPARE(RunSqlite3(db.path(),
                        u"INSERT INTO 匹配规则 (种类, 内容, 是否禁止) VALUES "
                        u"('网站', 'game.test', '禁止'), ('网站', 'school.test', '禁止'), "
                        u"('网站', 'probe.test', '禁止'), "
                        u"('网站', 'lessons.school.test', '通过');"_s),
             0);
    bool inForce = false; // once a page of a host only this set blocks is refused
    for (int tries = 0; !inForce && tries < 20; ++tries) {
        pages.Open(u"http://probe.test/"_s);
        inForce = shown(blocked + u"probe.test"_s, 500);
    }
    QVERIFY2(inForce, "the site rules never came into force");
    for (const QString& url : {u"http://game.test/"_s, u"http://www.game.test/a"_s,
                               u"http://school.test/"_s, u"http://lessons.school.test/"_s})
        pages.Open(url);
    for (const QString& host : {u"game.test"_s, u"www.game.test"_s, u"school.test"_s}) {
        QVERIFY2(shown(blocked + host), qPrintable(host));
        QVERIFY2(!pages.Saw(host), qPrintable(host));
    }
    QVERIFY2(shown(u"页 lessons.school.test"_s), "a page of an allowed site was refused");
}

// Firefox in a private window on the opener page, pop-ups allowed, through the pages' proxy,
// with no page of its own to show first (it would be recorded); the opener opens the driver.
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

// The opener's tab is private, the browser is not reported as running without the add-on, and
// the pages are recorded and blocked. The first messages go to a stand-in that then leaves for
// the bridge.
void CheckPolicyRun(const BrowserProcess& browser) {
    QJsonObject tab;
    {
        FakeWinwarden stand;
        QVERIFY(stand.Listen(BridgeSocketPath()));
        const auto reported = [&] {
            for (const QJsonObject& message : stand.Messages())
                for (const QJsonValue& entry : message[u"tabs"].toArray())
                    if (entry[u"url"] == browser.Url(u"pages/opener.html"_s))
                        tab = entry.toObject();
            return !tab.isEmpty();
        };
        QVERIFY2(QTest::qWaitFor(reported, 30000), "no tab with the page");
    }
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
            return Find(*own, shut).has_value();
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
