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

// A monitor engine with a fake browser on a thread of its own, so that stations run at once.
struct Station final {
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
    QString Failure() {
        QString failure;
        Do([&] { failure = m_engine->Status().storeFailure; });
        return failure;
    }

    FakeBrowserSource* source = new FakeBrowserSource; // owned by the engine
    QThread m_thread;
    QObject m_context;
    MonitorEngine* m_engine = nullptr;
    std::atomic<int> m_cycles{0};
};

} // namespace

class TestSharedRules final : public QObject {
    Q_OBJECT

    // One tick on every station at once, waited for with its close requests.
    static void TickAll(const std::vector<Station*>& stations) {
        std::vector<int> before;
        for (Station* station : stations) {
            before.push_back(station->m_cycles);
            QMetaObject::invokeMethod(station->m_engine, &MonitorEngine::OnTimer);
        }
        for (size_t i = 0; i < stations.size(); ++i) {
            QTRY_VERIFY_WITH_TIMEOUT(stations[i]->m_cycles > before[i], 20000);
            stations[i]->Do([s = stations[i]] { s->m_engine->WaitForCloseRequests(); });
        }
    }

private Q_SLOTS:
    // One rule per title met by three stations at once; a block set at one closes it at all.
    void stationsShareOneRuleList() {
        PgServer server;
        PgRuleDb db(server, true);
        const auto countAndDistinct = [&] {
            return db.exec(u"SELECT count(*) || ' ' || count(DISTINCT 窗口名称) FROM 窗口名表"_s);
        };
        Station one(db.name()), two(db.name()), three(db.name());
        const std::vector<Station*> stations{&one, &two, &three};
        QStringList pages;
        for (int i = 0; i < kTitles; ++i)
            pages << u"课堂页面 %1 'x' 100%"_s.arg(i) << u"http://class.test/%1"_s.arg(i);
        for (Station* station : stations)
            station->source->SetPages(pages);
        // A station whose insert timed out behind another's records the rest at its next tick.
        const auto failing = [&] {
            return std::any_of(stations.begin(), stations.end(),
                               [](Station* s) { return !s->Failure().isEmpty(); });
        };
        TickAll(stations);
        for (int round = 0; round < 5 && failing(); ++round)
            TickAll(stations);
        QVERIFY(!failing());
        QCOMPARE(countAndDistinct(), u"%1 %1"_s.arg(kTitles));

        const QString title = pages[14], url = pages[15];
        one.Do([&] { QCOMPARE(one.m_engine->Store().SetFlagByUrl(kFlagBlock, url), 1); });
        TickAll(stations);
        for (Station* station : stations) {
            QCOMPARE(station->source->CloseRequestsFor(title), 1);
            QCOMPARE(station->source->CloseRequests().size(), 1);
        }
        QCOMPARE(countAndDistinct(), u"%1 %1"_s.arg(kTitles));

        // With the server away a station says so once and does not hang; back, it catches up.
        std::atomic<int> reports{0};
        one.Do([&] { connect(one.m_engine, &MonitorEngine::storeFailed, [&] { ++reports; }); });
        server.Stop();
        one.source->SetPages(pages + QStringList{u"新页"_s, u"http://new/"_s});
        QElapsedTimer clock;
        clock.start();
        TickAll({&one});
        TickAll({&one});
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(reports.load(), 1);
        QVERIFY(one.Failure().contains(u"监视时读取窗口规则失败"_s));
        QCOMPARE(one.source->CloseRequestsFor(title), 1);
        server.Start();
        TickAll({&one});
        QCOMPARE(one.Failure(), QString());
        QCOMPARE(one.source->CloseRequestsFor(title), 2);
        RuleStore check;
        check.Open(db.name());
        QCOMPARE(check.FindByName(u"新页"_s)->url, u"http://new/"_s);

        // A match rule added at one station is in force at another at its next cycle: pages
        // 1, 10-19 and 100-199 close there.
        TickAll({&three}); // finds its connection gone with the server
        TickAll({&three});
        QCOMPARE(three.Failure(), QString());
        const qsizetype closed = three.source->CloseRequests().size();
        one.Do([&] {
            QVERIFY(one.m_engine->AddMatchRule(kKindTitleWord, u"课堂页面 1"_s, kFlagBlock));
        });
        TickAll({&three});
        QCOMPARE(three.source->CloseRequests().size(), closed + 111);
    }
};

QTEST_GUILESS_MAIN(TestSharedRules)
#include "test_sharedrules.moc"
