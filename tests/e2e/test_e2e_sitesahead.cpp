// What the guard's bridge tells a child's real Chromium, with the extension installed by policy
// in private namespaces: the child's own rules (every web page refused but an allowed site, a
// site refused with the reason why) and a notice, shown as the browser's notification. The
// decisions behind them: engine.test_monitorengine; users kept apart: sources.test_sources.
#include "engine/monitorengine.h"
#include "platform/bridgeprotocol.h"
#include "sources/bridge/bridgesource.h"
#include "sources/devtools/devtoolsclient.h"
#include "sources/devtools/devtoolsendpoints.h"
#include "sources/devtools/targetlist.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/guardrun.h"
#include "tests/support/nativehost.h"
#include "tests/support/privatesystem.h"
#include "tests/support/testdb.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>
#include <atomic>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

constexpr uid_t kChild = 4242;
const QString kSiteBlocked = u"此网站已被浏览哨兵禁止："_s;
const QString kUsedUp = u"今天的 60 分钟已用完，明天 00:00 再开放"_s;
const QString kNight = u"夜里 22:00 到 06:00 不能上网"_s;

QString Endpoint(const BrowserProcess& chromium) {
    return ParseDevToolsEndpoints(chromium.Path(u"profile/DevToolsActivePort"_s))
        .endpoints.value(0);
}

std::vector<DevToolsTarget> Targets(const QString& endpoint) {
    return DecodeTargetList(FetchTargetList(endpoint).value_or(""))
        .value_or(std::vector<DevToolsTarget>{});
}

// The extension's worker, once it runs.
QString Worker(const QString& endpoint) {
    const QString origin = u"chrome-extension://"_s + QLatin1StringView(kBridgeChromiumId);
    for (const DevToolsTarget& target : Targets(endpoint))
        if (target.type == "service_worker"_L1 && target.url.startsWith(origin))
            return target.id;
    return {};
}

// Opens `url` in a new tab and waits up to 5 s for its title to be `title`; the tab's id, or
// empty (the tab closed) when it never was.
QString OpenShowing(const QString& endpoint, const QString& url, const QString& title) {
    const QString id = OpenTab(endpoint, url);
    const bool shown = QTest::qWaitFor(
        [&] {
            for (const DevToolsTarget& page : Targets(endpoint))
                if (page.id == id && page.title == title)
                    return true;
            return false;
        },
        5000);
    if (!shown)
        CloseTarget(endpoint, id);
    return shown ? id : QString();
}

QByteArray WebSocketFrame(const QByteArray& text) {
    // Text, whole, masked as a client's must be; the commands here stay below 64 KiB.
    QByteArray frame("\x81", 1);
    frame.append(char(0x80 | 126)).append(char(text.size() >> 8)).append(char(text.size()));
    const char mask[4] = {0x15, 0x2a, 0x3f, 0x44};
    frame.append(mask, 4);
    for (qsizetype i = 0; i < text.size(); ++i)
        frame.append(char(text[i] ^ mask[i % 4]));
    return frame;
}

// `expression` evaluated (and awaited) in a target through the endpoint's WebSocket, as the
// DevTools front end does; its value, or undefined when there was none within 5 s.
QJsonValue Evaluate(const QString& endpoint, const QString& target, const QString& expression) {
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    const QUrl url(u"http://"_s + endpoint);
    socket.connectToHost(url.host(), quint16(url.port()));
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(
        "GET /devtools/page/" + target.toLatin1() + " HTTP/1.1\r\nHost: " + endpoint.toLatin1() +
        "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    QByteArray read;
    while (!read.contains("\r\n\r\n"))
        if (!socket.waitForReadyRead(5000) || (read += socket.readAll()).size() > 65536)
            return {};
    if (!read.startsWith("HTTP/1.1 101"))
        return {};
    read = read.mid(read.indexOf("\r\n\r\n") + 4);
    const QJsonObject command{{u"id"_s, 1},
                              {u"method"_s, u"Runtime.evaluate"_s},
                              {u"params"_s, QJsonObject{{u"expression"_s, expression},
                                                        {u"awaitPromise"_s, true},
                                                        {u"returnByValue"_s, true}}}};
    socket.write(WebSocketFrame(QJsonDocument(command).toJson(QJsonDocument::Compact)));
    for (;;) {
        // Server frames are unmasked; their length in 7 bits, or in the next 2 or 8 bytes.
        while (read.size() >= 2) {
            const quint8 length = quint8(read[1]) & 0x7f;
            const qsizetype head = length == 126 ? 4 : length == 127 ? 10 : 2;
            if (read.size() < head)
                break;
            quint64 size = length;
            for (qsizetype i = 2; i < head; ++i)
                size = (i == 2 ? 0 : size << 8) | quint8(read[i]);
            if (quint64(read.size() - head) < size)
                break;
            const QJsonObject message =
                QJsonDocument::fromJson(read.mid(head, qsizetype(size))).object();
            read.remove(0, head + qsizetype(size));
            if (message[u"id"_s].toInt() == 1)
                return message[u"result"_s][u"result"_s][u"value"_s];
        }
        if (!socket.waitForReadyRead(5000))
            return {};
        read += socket.readAll();
    }
}

// The engine's wall time, moved ahead by what the test says; its monotonic time, the system's.
class ShiftedClock final : public Clock {
public:
    ShiftedClock() { m_start.start(); }
    qint64 MonotonicMs() const override { return m_start.elapsed(); }
    QDateTime Now() const override { return QDateTime::currentDateTime().addSecs(offsetS); }
    std::atomic<qint64> offsetS = 0;

private:
    QElapsedTimer m_start;
};

} // namespace

class TestE2eSitesAhead final : public QObject {
    Q_OBJECT

    PageServer m_pages;
    BrowserProcess m_chromium;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(Append(u"/etc/passwd"_s, "child1:x:4242:4242::/nonexistent:/bin/sh\n"));
        QVERIFY(Append(u"/etc/group"_s, "child1:x:4242:\n"));
        // Installed where the child may run and read it: a checkout may lie in a folder closed
        // to other users.
        const QString build = QCoreApplication::applicationDirPath() + u"/.."_s;
        QCOMPARE(
            RunAs(0, {u"cmake"_s, u"--install"_s, build, u"--prefix"_s, u"/usr/local"_s}).status,
            0);
        QCOMPARE(RunAs(0, {u"/usr/local/bin/winwarden-browser"_s, u"install"_s, u"--system"_s,
                           u"--no-incognito"_s})
                     .status,
                 0);
        QVERIFY(QDir().mkpath(QLatin1StringView(kGuardRuntimeDir)));
        // The test reads the force-installed extension's worker and pages, which a policy's
        // extension keeps closed to DevTools unless the policies allow it.
        QVERIFY(WriteFile(u"/etc/chromium/policies/managed/devtools.json"_s,
                          R"({"DeveloperToolsAvailability": 1})"));
    }

    // The child's rules only: every web page refused but the allowed site's, a refused site's
    // page saying why (and nothing a link to it says instead), a notice as a notification.
    void aChildsBrowserRefusesAheadAndSaysWhy() {
        BridgeWatch watch;
        watch.running = {};
        const auto guard = MakeSystemBridgeSource(QLatin1StringView(kSystemBridgeSocket), watch);
        QVERIFY(WritePages(m_chromium));
        QVERIFY(StartChildsChromium(m_chromium, kChild, m_pages));
        QVERIFY2(QTest::qWaitFor([&] { return guard->TakePass().browsersRead == 1; }, 90000),
                 "the policies' extension never connected");
        const QString endpoint = Endpoint(m_chromium);
        QCOMPARE(OpenShowing(endpoint, u"http://before.test/"_s, u"页 before.test"_s).isEmpty(),
                 false);

        SiteRules rules{{}, {u"school.test"_s}};
        rules.users[kChild] = {{u"video.test"_s}, true, {{u"video.test"_s, kUsedUp}, {{}, kNight}}};
        // Another child's own: not this one's.
        rules.users[kChild + 1] = {{u"school.test"_s}, false, {}};
        guard->SetSiteRules(rules);
        QString refused, host;
        for (int n = 0; refused.isEmpty() && n < 20; ++n) {
            host = u"p%1.test"_s.arg(n);
            refused = OpenShowing(endpoint, u"http://"_s + host + u'/', kSiteBlocked + host);
        }
        QVERIFY2(!refused.isEmpty(), "every web page was not refused");
        QVERIFY(!m_pages.Saw(host));
        const auto why = [&](const QString& tab, const QString& reason) {
            return QTest::qWaitFor(
                [&] {
                    return Evaluate(endpoint, tab,
                                    u"document.getElementById('why').textContent"_s) ==
                           QJsonValue(reason);
                },
                5000);
        };
        QVERIFY(why(refused, kNight));
        QVERIFY(!OpenShowing(endpoint, u"http://www.school.test/"_s, u"页 www.school.test"_s)
                     .isEmpty());
        const QString video =
            OpenShowing(endpoint, u"http://www.video.test/"_s, kSiteBlocked + u"www.video.test"_s);
        QVERIFY(!video.isEmpty());
        QVERIFY(why(video, kUsedUp));
        QVERIFY(!m_pages.Saw(u"www.video.test"_s));
        // Any site may link to the block page with a reason of its own making.
        const QString page = u"chrome-extension://"_s + QLatin1StringView(kBridgeChromiumId) +
                             u"/blocked.html?%E5%85%8D%E8%B4%B9#www.video.test"_s;
        const QString linked = OpenShowing(endpoint, page, kSiteBlocked + u"www.video.test"_s);
        QVERIFY(!linked.isEmpty());
        QVERIFY(why(linked, kUsedUp));

        // A notice for another user shows nothing here; one for this child, a notification.
        const QString worker = Worker(endpoint);
        QVERIFY(!worker.isEmpty());
        const QString count = u"chrome.notifications.getAll().then((n) => Object.keys(n).length)"_s;
        guard->Notify(kChild + 1, u"别人的通知"_s);
        QTest::qWait(2000);
        QCOMPARE(Evaluate(endpoint, worker, count), QJsonValue(0));
        guard->Notify(kChild, u"还有 5 分钟：youtube.com 今天的时间快用完了"_s);
        QVERIFY(QTest::qWaitFor([&] { return Evaluate(endpoint, worker, count) == QJsonValue(1); },
                                10000));

        // Rules without the 全部网页 one: pages load again.
        rules.users[kChild].blockAll = false;
        guard->SetSiteRules(rules);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return !OpenShowing(endpoint, u"http://after.test/"_s, u"页 after.test"_s)
                            .isEmpty();
            },
            10000));
    }

    // The engine behind the guard's bridge, from the rules of its store: a 全部网页 rule refuses
    // every web page but the 通过 site's; then a 1-minute allowance of a site lets its tab in
    // front through for about a minute, says so before it runs out, closes it once used up,
    // and lets it through again on the next day.
    void theEnginesRulesAndAllowancesReachTheBrowser() {
        TempRuleDb db;
        BridgeWatch watch;
        watch.running = {};
        MonitorEngine engine(MakeSystemBridgeSource(QLatin1StringView(kSystemBridgeSocket), watch));
        const auto clock = std::make_shared<ShiftedClock>();
        const QDateTime now = QDateTime::currentDateTime();
        clock->offsetS = now.secsTo(QDateTime(now.date(), QTime(12, 0)));
        engine.SetClock(clock);
        engine.OpenStore(db.path());
        engine.Start();
        QCOMPARE(RunSqlite3(db.path(), u"INSERT INTO 匹配规则 (种类, 内容, 是否禁止) VALUES "
                                       u"('全部网页', '全部', '禁止'), ('网站', 'school.test', "
                                       u"'通过');"_s),
                 0);
        const QString endpoint = Endpoint(m_chromium);
        bool refused = false;
        for (int n = 0; !refused && n < 30; ++n)
            refused = !OpenShowing(endpoint, u"http://q%1.test/"_s.arg(n),
                                   kSiteBlocked + u"q%1.test"_s.arg(n))
                           .isEmpty();
        QVERIFY2(refused, "the 全部网页 rule never came into force");
        QVERIFY(!OpenShowing(endpoint, u"http://school.test/"_s, u"页 school.test"_s).isEmpty());

        const QString worker = Worker(endpoint);
        const QString count = u"chrome.notifications.getAll().then((n) => Object.keys(n).length)"_s;
        const QJsonValue before = Evaluate(endpoint, worker, count);
        QCOMPARE(RunSqlite3(db.path(), u"DELETE FROM 匹配规则 WHERE 种类 = '全部网页'; "
                                       u"INSERT INTO 匹配规则 (种类, 内容, 是否禁止, 时间) VALUES "
                                       u"('网站', 'video.test', '禁止', '1 分钟');"_s),
                 0);
        QString tab;
        QElapsedTimer used;
        for (int n = 0; tab.isEmpty() && n < 10; ++n) {
            QTest::qWait(1000); // the 全部网页 rule leaving the browser
            tab = OpenShowing(endpoint, u"http://video.test/"_s, u"页 video.test"_s);
        }
        used.start();
        QVERIFY2(!tab.isEmpty(), "the site of the allowance did not load");
        QVERIFY2(
            QTest::qWaitFor([&] { return Evaluate(endpoint, worker, count) != before; }, 20000),
            "no notice before the allowance ran out");
        QVERIFY(used.elapsed() < 50000);
        const auto gone = [&] {
            const auto targets = Targets(endpoint);
            return !targets.empty() &&
                   std::none_of(targets.begin(), targets.end(),
                                [&](const DevToolsTarget& target) { return target.id == tab; });
        };
        QVERIFY2(QTest::qWaitFor(gone, 120000), "the tab stayed open after its minute");
        QVERIFY2(used.elapsed() > 55000, "closed before its minute was used");
        // The browser puts the rule in force on its own time, from the cycle of the close on.
        QString again;
        for (int n = 0; again.isEmpty() && n < 4; ++n)
            again = OpenShowing(endpoint, u"http://www%1.video.test/"_s.arg(n),
                                kSiteBlocked + u"www%1.video.test"_s.arg(n));
        QVERIFY2(!again.isEmpty(), "the site loaded after its minute");
        QVERIFY(QTest::qWaitFor(
            [&] {
                return Evaluate(endpoint, again, u"document.getElementById('why').textContent"_s) ==
                       QJsonValue(u"今天的 1 分钟已用完，明天 00:00 再开放"_s);
            },
            5000));
        // The next day it is open again: a tab of the site loads and stays.
        clock->offsetS += 24 * 3600;
        QTest::qWait(4000);
        tab = OpenShowing(endpoint, u"http://video.test/"_s, u"页 video.test"_s);
        QVERIFY2(!tab.isEmpty(), "the site stayed refused on the next day");
        QTest::qWait(6000);
        QVERIFY2(!gone(), "the site was closed on the next day");
    }
};

int main(int argc, char** argv) {
    return RunWithPrivateSystemFolders(argc, argv, [&] {
        QCoreApplication app(argc, argv);
        TestE2eSitesAhead test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_e2e_sitesahead.moc"
