// The visit record: what consecutive cycles say of each tab, stored in table 访问记录 of a real
// rule database, at instants a manual clock sets.
#include "store/flag.h"
#include "store/visitday.h"
#include "tests/support/manualclock.h"
#include "tests/support/viewrig.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <pwd.h>
#include <thread>
#include <unistd.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kCycle = 2000;

BrowserWindow Page(const QString& tab, const QString& title, const QString& url,
                   std::optional<bool> inFront = std::nullopt, qint64 uid = -1) {
    BrowserWindow window{
        BrowserWindow::Kind::HtmlDocument, title, url, {-1, u"fake"_s, tab}, u"chromium"_s, uid};
    window.inFront = inFront;
    return window;
}

// "title|start|end|front|result|rule", times in ms from the test's start; front "-" unknown.
QStringList Shown(const std::vector<VisitRow>& visits, qint64 origin) {
    QStringList shown;
    for (const VisitRow& v : visits) {
        shown << u"%1|%2|%3|%4|%5|%6"_s.arg(v.title)
                     .arg(v.start - origin)
                     .arg(v.end - origin)
                     .arg(v.frontMs ? QString::number(*v.frontMs) : u"-"_s, v.result, v.rule);
    }
    shown.sort();
    return shown;
}

// A passed visit of user 7 to `host`.
VisitRow Row(const QString& title, qint64 start, qint64 end, const QString& host = u"game.test"_s) {
    return {0, 7, u"alice"_s, u"s"_s, title, host, u"u"_s, start, end, {}, kFlagPass, {}};
}

void Write(RuleStore& store, std::vector<VisitRow> rows) {
    std::vector<VisitRow*> batch;
    for (VisitRow& row : rows)
        batch.push_back(&row);
    VisitStore(store).Write(batch);
}

} // namespace

class TestVisits final : public QObject {
    Q_OBJECT
    std::unique_ptr<EngineRig> m;
    std::shared_ptr<ManualClock> m_clock;
    qint64 m_origin = 0;

    void Cycle(std::vector<BrowserWindow> windows) {
        m->source->SetWindows(std::move(windows));
        m->Tick();
        m_clock->Advance(kCycle);
    }
    // What the store holds once the writer has tried the batches handed so far.
    QStringList Stored() {
        m->engine.Visits().WaitWritten(10'000);
        return StoredNow();
    }
    QStringList StoredNow() { return Shown(VisitStore(m->engine.Store()).List({}), m_origin); }
    // The writer's outcome, told by a cycle at the same instant as the last one.
    void Settle() {
        QVERIFY(m->engine.Visits().WaitWritten(10'000));
        m_clock->Advance(-kCycle);
        m->Tick();
        m_clock->Advance(kCycle);
    }

private Q_SLOTS:
    void init() {
        m = std::make_unique<EngineRig>();
        m_clock = std::make_shared<ManualClock>(QDateTime(QDate(2026, 3, 2), QTime(15, 0)));
        m_origin = m_clock->Now().toMSecsSinceEpoch();
        m->engine.SetClock(m_clock);
        m->engine.Start();
    }

    // One row per visit, not per cycle: a tab kept is one visit; one closed, navigated or
    // retitled ends in the cycle that sees it so (the new page a visit of its own); a page
    // seen again later is a second visit; the stop ends what is open. Nothing is written
    // before a batch is due but what the first cycle had, though a report reads them all.
    void visitsEndWhenTheirTabNoLongerShowsThem() {
        Cycle({Page(u"1"_s, u"Kept"_s, u"http://kept.test/"_s),
               Page(u"2"_s, u"Closed"_s, u"http://closed.test/"_s),
               Page(u"3"_s, u"Moved"_s, u"http://moved.test/a"_s),
               Page(u"4"_s, u"Old title"_s, u"http://retitled.test/"_s)});
        Cycle({Page(u"1"_s, u"Kept"_s, u"http://kept.test/"_s),
               Page(u"3"_s, u"Moved"_s, u"http://moved.test/b"_s),
               Page(u"4"_s, u"New title"_s, u"http://retitled.test/"_s)});
        Cycle({Page(u"1"_s, u"Kept"_s, u"http://kept.test/"_s),
               Page(u"2"_s, u"Closed"_s, u"http://closed.test/"_s)});
        QCOMPARE(Stored(), QStringList({u"Closed|0|0|-|通过|"_s, u"Kept|0|0|-|通过|"_s,
                                        u"Moved|0|0|-|通过|"_s, u"Old title|0|0|-|通过|"_s}));
        QCOMPARE(Shown(m->engine.ListVisits({}), m_origin),
                 QStringList({u"Closed|0|2000|-|通过|"_s, u"Closed|4000|4000|-|通过|"_s,
                              u"Kept|0|4000|-|通过|"_s, u"Moved|0|2000|-|通过|"_s,
                              u"Moved|2000|4000|-|通过|"_s, u"New title|2000|4000|-|通过|"_s,
                              u"Old title|0|2000|-|通过|"_s}));
        m->engine.Stop();
        QCOMPARE(Stored(),
                 QStringList({u"Closed|0|2000|-|通过|"_s, u"Closed|4000|6000|-|通过|"_s,
                              u"Kept|0|6000|-|通过|"_s, u"Moved|0|2000|-|通过|"_s,
                              u"Moved|2000|4000|-|通过|"_s, u"New title|2000|4000|-|通过|"_s,
                              u"Old title|0|2000|-|通过|"_s}));
        for (const VisitRow& v : m->engine.ListVisits({})) {
            QCOMPARE(v.user, QString::fromLocal8Bit(getpwuid(getuid())->pw_name));
            QCOMPARE(v.uid, qint64(getuid()));
            QCOMPARE(v.station, QSysInfo::machineHostName());
            QCOMPARE(v.host, QUrl(v.url).host());
        }
    }

    // Time in front grows only over the cycles that began with the tab in front (the active
    // tab of a focused window); a source that cannot say leaves it unknown. Durations come
    // from the monotonic clock: a wall clock set back an hour during a visit neither gives it
    // an end before its start nor shortens it.
    void frontTimeOnlyWhileInFrontAndAClockSetBack() {
        Cycle({Page(u"1"_s, u"Front"_s, u"http://a.test/"_s, true),
               Page(u"2"_s, u"Behind"_s, u"http://b.test/"_s, false),
               Page(u"3"_s, u"Unknown"_s, u"http://c.test/"_s),
               Page(u"4"_s, u"Page"_s, u"http://d.test/"_s)});
        m_clock->SetWallTime(m_clock->Now().addSecs(-3600));
        Cycle({Page(u"1"_s, u"Front"_s, u"http://a.test/"_s, false),
               Page(u"2"_s, u"Behind"_s, u"http://b.test/"_s, true),
               Page(u"3"_s, u"Unknown"_s, u"http://c.test/"_s),
               Page(u"4"_s, u"Page"_s, u"http://d.test/"_s)});
        Cycle({Page(u"1"_s, u"Front"_s, u"http://a.test/"_s, false),
               Page(u"2"_s, u"Behind"_s, u"http://b.test/"_s, true),
               Page(u"3"_s, u"Unknown"_s, u"http://c.test/"_s),
               Page(u"5"_s, u"After"_s, u"http://d.test/"_s)});
        m->engine.Stop();
        QCOMPARE(Stored(), QStringList({u"After|-3596000|-3594000|-|通过|"_s,
                                        u"Behind|0|6000|4000|通过|"_s, u"Front|0|6000|2000|通过|"_s,
                                        u"Page|0|4000|-|通过|"_s, u"Unknown|0|6000|-|通过|"_s}));
    }

    // A blocked page is a visit of its own with 结果 禁止 and the rule that decided, as the
    // live list names it; the same tab allowed again afterwards starts another visit.
    void blockedPagesAreVisitsWithTheirRule() {
        m->db.insert(u"Bad title"_s, u"禁止"_s, u"http://x.test/"_s);
        m->engine.AddMatchTable();
        QVERIFY(m->engine.AddMatchRule(kKindSite, u"game.test"_s, kFlagBlock));
        m->source->SetClosesWindows(false); // a tab that stays until the browser gets to it
        Cycle({Page(u"1"_s, u"Bad title"_s, u"http://x.test/"_s),
               Page(u"2"_s, u"Play"_s, u"http://www.game.test/"_s)});
        Cycle({Page(u"2"_s, u"Play"_s, u"http://www.game.test/"_s)});
        const qint64 id = m->engine.FindMatchRule(kKindSite, u"game.test"_s)->id;
        m->engine.SetMatchRuleFlag(id, kFlagPass);
        Cycle({Page(u"2"_s, u"Play"_s, u"http://www.game.test/"_s)});
        m->engine.Stop();
        QCOMPARE(Stored(), QStringList({u"Bad title|0|2000|-|禁止|窗口名称"_s,
                                        u"Play|0|4000|-|禁止|网站 game.test"_s,
                                        u"Play|4000|6000|-|通过|"_s}));
    }

    // Batches: written when one is due (every minute, with the open visits' state so far), and
    // a store that fails in the middle of one keeps everything in memory until it works
    // again, up to the bound; beyond it the oldest are dropped and counted in a notice.
    void aFailingStoreKeepsVisitsUpToABound() {
        m->engine.Visits().SetWaitingBound(3);
        Cycle({Page(u"0"_s, u"Long"_s, u"http://long.test/"_s)});
        QCOMPARE(Stored(), QStringList({u"Long|0|0|-|通过|"_s}));
        // From the third row on, every insert fails: the batch then stores nothing.
        m->db.exec(u"CREATE TRIGGER full BEFORE INSERT ON 访问记录 WHEN (SELECT count(*) FROM "
                   "访问记录) >= 2 BEGIN SELECT RAISE(ABORT, 'disk full'); END"_s);
        for (int i = 1; i <= 6; ++i) {
            Cycle({Page(u"0"_s, u"Long"_s, u"http://long.test/"_s),
                   Page(QString::number(i), u"Tab %1"_s.arg(i), u"http://t.test/"_s)});
        }
        m_clock->Advance(VisitRecorder::kWriteEveryMs);
        Cycle({Page(u"0"_s, u"Long"_s, u"http://long.test/"_s)});
        Settle();
        QCOMPARE(Stored(), QStringList({u"Long|0|0|-|通过|"_s}));
        QCOMPARE(m->engine.Status().notices.filter(u"已丢失 3 条访问记录"_s).size(), 1);
        QCOMPARE(m->engine.Status().notices.filter(u"disk full"_s).size(), 1);
        m->db.exec(u"DROP TRIGGER full"_s);
        m_clock->Advance(VisitRecorder::kWriteEveryMs);
        Cycle({Page(u"0"_s, u"Long"_s, u"http://long.test/"_s)});
        Settle();
        QCOMPARE(Stored(),
                 QStringList({u"Long|0|136000|-|通过|"_s, u"Tab 4|8000|10000|-|通过|"_s,
                              u"Tab 5|10000|12000|-|通过|"_s, u"Tab 6|12000|74000|-|通过|"_s}));
        QCOMPARE(m->engine.Status().notices,
                 QStringList(u"访问记录写入失败，已丢失 3 条访问记录"_s));
    }

    // The writer stores each batch off the cycle: an open visit is one row that later batches
    // carry on, and the batch of the stop is stored before Stop returns.
    void theWriterCarriesOpenVisitsOnAndStopWritesTheLastBatch() {
        Cycle({Page(u"1"_s, u"Open"_s, u"http://a.test/"_s)});
        QCOMPARE(Stored(), QStringList({u"Open|0|0|-|通过|"_s}));
        m_clock->Advance(VisitRecorder::kWriteEveryMs);
        Cycle({Page(u"1"_s, u"Open"_s, u"http://a.test/"_s, true),
               Page(u"2"_s, u"Second"_s, u"http://b.test/"_s)});
        QCOMPARE(Stored(),
                 QStringList({u"Open|0|62000|0|通过|"_s, u"Second|62000|62000|-|通过|"_s}));
        Cycle({Page(u"2"_s, u"Second"_s, u"http://b.test/"_s)});
        // Another program holds the file for a moment: the stop's batch waits for it, and so
        // does Stop.
        std::atomic<bool> locked = false;
        std::thread holder([&] {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"holder"_s);
                db.setDatabaseName(m->db.path());
                locked = db.open() && QSqlQuery(db).exec(u"BEGIN IMMEDIATE"_s);
                QThread::msleep(300);
                QSqlQuery(db).exec(u"COMMIT"_s);
            }
            QSqlDatabase::removeDatabase(u"holder"_s);
        });
        QVERIFY(QTest::qWaitFor([&] { return locked.load(); }, 5000));
        m->engine.Stop();
        const QStringList stored = StoredNow();
        holder.join();
        QCOMPARE(stored,
                 QStringList({u"Open|0|64000|2000|通过|"_s, u"Second|62000|66000|-|通过|"_s}));
    }

    // Retention: on the first write and once a day after, what ended more than keep-history
    // days ago goes and nothing else; 0 records nothing and keeps nothing.
    void retentionDeletesExactlyWhatIsOlder() {
        m->engine.Stop();
        const qint64 now = m_clock->Now().toMSecsSinceEpoch(), keep = 2 * 24 * 3600 * 1000;
        Write(m->engine.Store(), {Row(u"older"_s, now - keep - 10, now - keep - 1),
                                  Row(u"edge"_s, now - keep - 10, now - keep),
                                  Row(u"recent"_s, now - keep - 5000, now - 1000)});
        m->engine.SetKeepHistoryDays(2);
        m->engine.Start();
        Cycle({});
        QCOMPARE(Shown(m->engine.ListVisits({}), now - keep - 10),
                 QStringList({u"edge|0|10|-|通过|"_s, u"recent|-4990|172799010|-|通过|"_s}));

        m->engine.Stop();
        m->engine.SetKeepHistoryDays(0);
        m->engine.Start();
        Cycle({Page(u"1"_s, u"Unrecorded"_s, u"http://a.test/"_s)});
        m->engine.Stop();
        QCOMPARE(m->engine.ListVisits({}).size(), size_t(0));
    }

    // Time spent per site and day: a visit across midnight counts to each day its share (its
    // time in front in the same proportion); visits of other days count nothing.
    void spentPerSitePerDaySplitsAtMidnight() {
        const QDate day(2026, 3, 2);
        const auto at = [&](int dayOffset, int h, int min) {
            return QDateTime(day.addDays(dayOffset), QTime(h, min)).toMSecsSinceEpoch();
        };
        VisitRow front = Row(u"Game"_s, at(0, 23, 50), at(1, 0, 20), u"front.test"_s);
        front.frontMs = 15 * 60 * 1000; // half of its 30 minutes
        VisitRow other = Row(u"Game"_s, at(0, 23, 50), at(1, 0, 20));
        other.uid = 8;
        Write(m->engine.Store(),
              {Row(u"Game"_s, at(0, 23, 50), at(1, 0, 20)), front, other,
               Row(u"Game"_s, at(-1, 10, 0), at(-1, 11, 0)),
               Row(u"Game"_s, at(-3, 10, 0), at(1, 0, 30), u"pinned.test"_s)}); // open for days
        VisitStore store{m->engine.Store()};
        using Sums = std::vector<std::pair<QString, qint64>>;
        const qint64 minute = 60 * 1000;
        QCOMPARE(store.SpentPerSite(7, day), Sums({{u"pinned.test"_s, 24 * 60 * minute},
                                                   {u"game.test"_s, 10 * minute},
                                                   {u"front.test"_s, 5 * minute}}));
        QCOMPARE(store.SpentPerSite(7, day.addDays(1)), Sums({{u"pinned.test"_s, 30 * minute},
                                                              {u"game.test"_s, 20 * minute},
                                                              {u"front.test"_s, 10 * minute}}));
        const DaySummary summary = SummarizeDay(store.List({7, {}, 0, 0}), day);
        QCOMPARE(summary.openPerHour[23], 60 * minute); // the pinned tab, once with the night
        QCOMPARE(summary.openPerHour[10], 60 * minute);
        QCOMPARE(summary.total, 24 * 60 * minute + 15 * minute);
    }
};

QTEST_MAIN(TestVisits)
#include "test_visits.moc"
