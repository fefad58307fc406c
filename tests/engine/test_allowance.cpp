// Daily allowances in the monitor's cycle: each person's time in front counted at instants a
// manual clock sets, the verdict and the site rules that follow from it, the notices; a real
// rule database, the cycles run on passes the test makes.
#include "engine/monitorengine.h"
#include "store/flag.h"
#include "store/rulecsv.h"
#include "store/storeerror.h"
#include "tests/support/manualclock.h"
#include "tests/support/testdb.h"

#include <QTest>
#include <mutex>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kMinute = 60'000;

// What the engine tells the browsers.
class Recorder final : public BrowserSource {
public:
    BrowserPass TakePass() override { return {}; }
    void RequestClose(const WindowHandle& window) override {
        std::lock_guard lock(m_mutex);
        closed << window.id;
    }
    void SetSiteRules(const SiteRules& rules) override {
        std::lock_guard lock(m_mutex);
        sites = rules;
    }
    void Notify(qint64 uid, const QString& text) override {
        std::lock_guard lock(m_mutex);
        notices << QString::number(uid) + u' ' + text;
    }
    std::mutex m_mutex;
    QStringList closed;
    SiteRules sites;
    QStringList notices;
};

BrowserWindow Tab(const QString& id, const QString& url, qint64 uid, bool inFront) {
    BrowserWindow window{
        BrowserWindow::Kind::HtmlDocument, id, url, {-1, u"fake"_s, id}, u"chromium"_s, uid};
    window.inFront = inFront;
    return window;
}

} // namespace

class TestAllowance final : public QObject {
    Q_OBJECT
    std::unique_ptr<TempRuleDb> m_db;
    std::shared_ptr<ManualClock> m_clock;
    Recorder* m_source = nullptr;
    std::unique_ptr<MonitorEngine> m_engine;

    void NewEngine() {
        m_engine.reset();
        m_source = new Recorder;
        m_engine = std::make_unique<MonitorEngine>(std::unique_ptr<BrowserSource>(m_source));
        m_engine->OpenStore(m_db->path());
        m_engine->SetClock(m_clock);
    }
    qint64 Rule(const QString& kind, const QString& text, const QString& flag,
                const QString& times) {
        if (!m_engine->HasMatchTable())
            m_engine->AddMatchTable();
        m_engine->AddMatchRule(kind, text, flag);
        const qint64 id = m_engine->ListMatchRules().back().id;
        if (!times.isEmpty())
            m_engine->SetMatchRuleTimes(id, times);
        return id;
    }
    // One cycle over `tabs`, then the clock moves on by `ms`; what it closed.
    QStringList Cycle(const std::vector<BrowserWindow>& tabs, qint64 ms = kMinute) {
        {
            std::lock_guard lock(m_source->m_mutex);
            m_source->closed.clear();
        }
        m_engine->RunCycle({tabs, 1, 1, {}});
        m_engine->WaitForCloseRequests();
        m_clock->Advance(ms);
        std::lock_guard lock(m_source->m_mutex);
        return m_source->closed;
    }
    qint64 Used(qint64 uid, qint64 rule) const { return m_engine->Allowances().UsedMs(uid, rule); }

private Q_SLOTS:
    void init() {
        m_db = std::make_unique<TempRuleDb>();
        m_clock = std::make_shared<ManualClock>(QDateTime(QDate(2026, 3, 2), QTime(15, 0)));
        NewEngine();
    }
    void cleanup() { m_engine.reset(); }

    // Two tabs of the site in front at once (two focused windows) count once; a browser
    // without the focus counts nothing. Used up, the site is closed and refused for that person
    // alone, with the reason; the notice came once, 5 minutes before. The next day it is open.
    void allowanceIsEachPersonsOwn() {
        const qint64 id = Rule(kKindSite, u"youtube.com"_s, kFlagBlock, u"每天 60 分钟"_s);
        const std::vector<BrowserWindow> tabs{
            Tab(u"a1"_s, u"https://www.youtube.com/watch?v=1"_s, 1001, true),
            Tab(u"a2"_s, u"https://youtube.com/"_s, 1001, true),
            Tab(u"b1"_s, u"https://m.youtube.com/"_s, 1002, false),
            Tab(u"b2"_s, u"https://example.org/"_s, 1002, true)};
        for (int minute = 0; minute < 50; ++minute)
            QVERIFY(Cycle(tabs).isEmpty());
        QCOMPARE(Used(1001, id), 49 * kMinute);
        QCOMPARE(Used(1002, id), 0);
        QCOMPARE(m_engine->AllowanceUses().size(), size_t(1));
        QCOMPARE(m_engine->AllowanceUses().front().usedMinutes, 49);
        QVERIFY(m_source->sites.users.isEmpty());
        QVERIFY(!m_source->sites.block.contains(u"youtube.com"_s));

        for (int minute = 50; minute < 60; ++minute)
            QVERIFY(Cycle(tabs).isEmpty());
        QCOMPARE(Cycle(tabs), (QStringList{u"a1"_s, u"a2"_s}));
        QCOMPARE(m_source->notices,
                 QStringList{u"1001 还有 5 分钟：youtube.com 今天的时间快用完了"_s});
        QCOMPARE(m_source->sites.users.keys(), QList<qint64>{1001});
        const SiteRules::User& user = m_source->sites.users[1001];
        QCOMPARE(user.block, QStringList{u"youtube.com"_s});
        QCOMPARE(user.reasons.value(u"youtube.com"_s),
                 u"今天的 60 分钟已用完，明天 00:00 再开放"_s);

        Cycle({}, 9 * 60 * kMinute); // 01:01 the next day
        QVERIFY(Cycle(tabs).isEmpty());
        QVERIFY(m_source->sites.users.isEmpty());
        QCOMPARE(m_source->notices.size(), 1);
    }

    // A cycle across the start of a day counts its part after the start to the new day, the
    // day starting at 00:00 or at the hour set. A wall clock set back over the start gives no
    // second allowance: the time goes on counting to the latest day.
    void dayStartSplitsTheInterval_data() {
        QTest::addColumn<int>("hour");
        QTest::newRow("midnight") << 0;
        QTest::newRow("04:00") << 4;
    }
    void dayStartSplitsTheInterval() {
        QFETCH(int, hour);
        m_engine->SetDayStartHour(hour);
        const qint64 id = Rule(kKindSite, u"game.test"_s, kFlagBlock, u"60 分钟"_s);
        const std::vector<BrowserWindow> tabs{Tab(u"g"_s, u"http://game.test/"_s, 7, true)};
        const QDateTime before = QDateTime(QDate(2026, 3, 2), QTime(hour, 0)).addSecs(-20 * 60);
        m_clock->SetWallTime(before);
        Cycle(tabs, 15 * kMinute);
        Cycle(tabs, 15 * kMinute);
        QCOMPARE(Used(7, id), 15 * kMinute);
        Cycle(tabs, kMinute); // at hour:10, counting the 15 minutes from hour:-05
        QCOMPARE(Used(7, id), 10 * kMinute);
        m_clock->SetWallTime(before);
        Cycle(tabs, kMinute);
        QCOMPARE(Used(7, id), 11 * kMinute);
        QCOMPARE(m_engine->Allowances().Day(), QDate(2026, 3, 2));
    }

    // What was used today stays used when the monitor starts again over the same store.
    void usedTimeKeptAcrossARestart() {
        const qint64 id = Rule(kKindSite, u"game.test"_s, kFlagBlock, u"周一 40 分钟"_s);
        const std::vector<BrowserWindow> tabs{Tab(u"g"_s, u"http://www.game.test/"_s, 7, true)};
        m_engine->Start();
        for (int minute = 0; minute <= 30; ++minute)
            Cycle(tabs);
        m_engine->Stop();
        NewEngine();
        m_engine->Start();
        QVERIFY(Cycle(tabs).isEmpty());
        QCOMPARE(Used(7, id), 31 * kMinute);
        for (int minute = 32; minute < 40; ++minute)
            QVERIFY(Cycle(tabs).isEmpty());
        QCOMPARE(Cycle(tabs), QStringList{u"g"_s});
    }

    // 全部网页: any web page no 网站 rule decides for; a 通过 site still passes, a page that is
    // no web page is left alone. A 标题包含 rule takes no allowance.
    void allWebAndWhereAllowancesGo() {
        const qint64 all = Rule(kKindAllWeb, u"  "_s, kFlagBlock, u"每天 30 分钟"_s);
        Rule(kKindSite, u"exam.school"_s, kFlagPass, {});
        const qint64 word = Rule(kKindTitleWord, u"game"_s, kFlagBlock, {});
        QCOMPARE(*m_engine->ListMatchRules().front().text, u"所有网页"_s);
        QVERIFY_THROWS_EXCEPTION(StoreError, m_engine->SetMatchRuleTimes(word, u"60 分钟"_s));
        QVERIFY(!m_engine->ListMatchRules().back().times.value_or(QString()).contains(u"60"_s));
        QString why;
        QVERIFY(!ReadRulesCsv("窗口名称,是否禁止,网址,种类,时间\n"
                              "game,禁止,,标题包含,每天 60 分钟\n"_ba,
                              &why));
        QVERIFY2(why.contains(u"标题包含 规则不能有每天的时间"_s), qPrintable(why));
        QVERIFY(ReadRulesCsv("窗口名称,是否禁止,网址,种类,时间\n"
                             "game,禁止,,标题包含,每天 16:00-18:00\n"
                             "所有网页,禁止,,全部网页,每天 60 分钟\n"_ba,
                             &why));

        QStringList seen;
        connect(m_engine.get(), &Monitor::windowSeen, this,
                [&seen](const SeenWindow& w) { seen << w.title + u'|' + w.ShownFlag(); });
        const std::vector<BrowserWindow> tabs{Tab(u"x"_s, u"https://x.test/"_s, 7, true),
                                              Tab(u"e"_s, u"https://exam.school/"_s, 7, false),
                                              Tab(u"f"_s, u"file:///tmp/a.html"_s, 7, false)};
        for (int minute = 0; minute < 30; ++minute)
            QVERIFY(Cycle(tabs).isEmpty());
        QCOMPARE(Cycle(tabs), QStringList{u"x"_s});
        QVERIFY(seen.last(3).first().endsWith(u"全部网页 所有网页）"_s));
        QCOMPARE(m_source->sites.users[7].blockAll, true);
        QCOMPARE(m_source->sites.users[7].reasons.value(QString()),
                 u"今天的 30 分钟已用完，明天 00:00 再开放"_s);
        QCOMPARE(m_source->notices, QStringList{u"7 还有 5 分钟：所有网页 今天的时间快用完了"_s});
        QCOMPARE(Used(7, all), 30 * kMinute);
    }

    // A blocking schedule about to begin is said once to each person with a page it will block.
    void scheduleBeginIsNoticed() {
        Rule(kKindSite, u"game.test"_s, kFlagBlock, u"每天 21:00-07:00"_s);
        m_clock->SetWallTime(QDateTime(QDate(2026, 3, 2), QTime(20, 54)));
        const std::vector<BrowserWindow> tabs{Tab(u"g"_s, u"http://game.test/"_s, 7, false),
                                              Tab(u"h"_s, u"http://game.test/x"_s, 7, false),
                                              Tab(u"o"_s, u"http://other.test/"_s, 8, true)};
        for (int minute = 54; minute < 60; ++minute)
            QVERIFY(Cycle(tabs).isEmpty());
        QCOMPARE(m_source->notices, QStringList{u"7 还有 5 分钟：game.test 21:00 起禁止"_s});
        QCOMPARE(Cycle(tabs), (QStringList{u"g"_s, u"h"_s}));
    }
};

QTEST_GUILESS_MAIN(TestAllowance)
#include "test_allowance.moc"
