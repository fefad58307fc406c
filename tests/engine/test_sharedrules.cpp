// Monitor engines of several stations sharing one rule list on a private PostgreSQL server.
#include "engine/monitorengine.h"
#include "store/flag.h"
#include "tests/support/fakesource.h"
#include "tests/support/pgserver.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <atomic>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

constexpr int kTitles = 500;

QStringList Pages(int count) {
    QStringList pages;
    for (int i = 0; i < count; ++i)
        pages << u"课堂页面 %1 'x' 100%"_s.arg(i) << u"http://class.test/%1"_s.arg(i);
    return pages;
}

// A station: a monitor engine with a fake browser, living on a thread of its own so that the
// stations' cycles really run at once.
class Station final {
public:
    explicit Station(const QString& database) {
        m_context.moveToThread(&m_thread);
        m_thread.start();
        Do([this, database] {
            m_engine = new MonitorEngine(std::unique_ptr<BrowserSource>(source));
            QObject::connect(m_engine, &MonitorEngine::cycleFinished, [this] { ++m_cycles; });
            m_engine->OpenStore(database);
        });
    }
    ~Station() {
        Do([this] { delete m_engine; });
        m_thread.quit();
        m_thread.wait();
    }

    template <typename Work> void Do(Work work) {
        QMetaObject::invokeMethod(&m_context, work, Qt::BlockingQueuedConnection);
    }
    void Tick() { QMetaObject::invokeMethod(m_engine, &MonitorEngine::OnTimer); }
    int Cycles() const { return m_cycles; }
    QString Failure() {
        QString failure;
        Do([&] { failure = m_engine->Status().storeFailure; });
        return failure;
    }
    MonitorEngine& Engine() { return *m_engine; }

    FakeBrowserSource* source = new FakeBrowserSource; // owned by the engine

private:
    QThread m_thread;
    QObject m_context;
    MonitorEngine* m_engine = nullptr;
    std::atomic<int> m_cycles{0};
};

} // namespace

class TestSharedRules final : public QObject {
    Q_OBJECT
    std::optional<PgServer> m_server;
    std::unique_ptr<PgRuleDb> m_db;

    // One tick on every station at once, waited for with its close requests.
    static void TickAll(const std::vector<Station*>& stations) {
        std::vector<int> before;
        for (Station* station : stations) {
            before.push_back(station->Cycles());
            station->Tick();
        }
        for (size_t i = 0; i < stations.size(); ++i) {
            QTRY_VERIFY_WITH_TIMEOUT(stations[i]->Cycles() > before[i], 20000);
            stations[i]->Do([station = stations[i]] { station->Engine().WaitForCloseRequests(); });
        }
    }
    QString CountAndDistinct() {
        return m_db->exec(u"SELECT count(*) || ' ' || count(DISTINCT 窗口名称) FROM 窗口名表"_s);
    }

private Q_SLOTS:
    void initTestCase() { m_server.emplace(); }
    void init() { m_db = std::make_unique<PgRuleDb>(*m_server, true); }
    void cleanupTestCase() {
        m_db.reset();
        m_server.reset();
    }

    // Three stations meeting the same new titles at once make one rule per title; a block set
    // at one station closes the page at every station's next cycle.
    void stationsShareOneRuleList() {
        Station one(m_db->name()), two(m_db->name()), three(m_db->name());
        const std::vector<Station*> stations{&one, &two, &three};
        const QStringList pages = Pages(kTitles);
        for (Station* station : stations)
            station->source->SetPages(pages);
        // A station whose insert outwaited its time-out behind another's records the rest at
        // its next tick; none may ever add a second rule of one name.
        const auto failing = [&] {
            return std::any_of(stations.begin(), stations.end(),
                               [](Station* s) { return !s->Failure().isEmpty(); });
        };
        TickAll(stations);
        for (int round = 0; round < 5 && failing(); ++round)
            TickAll(stations);
        QVERIFY(!failing());
        QCOMPARE(CountAndDistinct(), u"%1 %1"_s.arg(kTitles));

        const QString title = pages[14], url = pages[15];
        one.Do([&] { QCOMPARE(one.Engine().Store().SetFlagByUrl(kFlagBlock, url), 1); });
        TickAll(stations);
        for (Station* station : stations) {
            QCOMPARE(station->source->CloseRequestsFor(title), 1);
            QCOMPARE(station->source->CloseRequests().size(), 1);
        }
        QCOMPARE(CountAndDistinct(), u"%1 %1"_s.arg(kTitles));
    }

    // With the server away a station says so once, closes and records nothing, and does not
    // hang; once it is back, it records what it met meanwhile and closes blocked pages again.
    void aStationOutlivesTheServer() {
        m_db->insert(u"封锁"_s, kFlagBlock, u"http://blocked/"_s);
        Station station(m_db->name());
        std::atomic<int> reports{0};
        station.Do(
            [&] { connect(&station.Engine(), &MonitorEngine::storeFailed, [&] { ++reports; }); });
        station.source->SetPages({u"封锁"_s, u"http://blocked/"_s});
        TickAll({&station});
        QCOMPARE(station.source->CloseRequestsFor(u"封锁"_s), 1);

        m_server->Stop();
        station.source->SetPages({u"封锁"_s, u"http://blocked/"_s, u"新页"_s, u"http://new/"_s});
        QElapsedTimer clock;
        clock.start();
        TickAll({&station});
        TickAll({&station});
        // A check against a hang, not a speed goal: each attempt gives up within 2 s.
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(reports.load(), 1);
        QVERIFY(station.Failure().contains(u"监视时读取窗口规则失败"_s));
        QCOMPARE(station.source->CloseRequestsFor(u"封锁"_s), 1);

        m_server->Start();
        TickAll({&station});
        QCOMPARE(station.Failure(), QString());
        QCOMPARE(station.source->CloseRequestsFor(u"封锁"_s), 2);
        RuleStore check;
        check.Open(m_db->name());
        QCOMPARE(check.FindByName(u"新页"_s)->url, u"http://new/"_s);
    }
};

QTEST_GUILESS_MAIN(TestSharedRules)
#include "test_sharedrules.moc"
