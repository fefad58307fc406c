// The monitor cycle against a real rule database, with the browser's windows faked.
#include "monitor/winwardenview.h"
#include "res/commandids.h"
#include "res/texts.h"
#include "survey/browsersnapshot.h"
#include "tests/support/fakes.h"
#include "tests/support/testdb.h"

#include <QAbstractEventDispatcher>
#include <QHeaderView>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimerEvent>
#include <memory>

using namespace winwarden;
using namespace winwarden::test;

namespace {

const QString kPass = QStringLiteral("通过");
const QString kBlock = QStringLiteral("禁止");

QString Caption(const QString& title) {
    return title + text::kCaptionSuffix;
}

struct Row {
    QString caption, flag, url;
    bool operator==(const Row&) const = default;
};

char* toString(const Row& row) {
    return QTest::toString(QStringLiteral("(%1 | %2 | %3)").arg(row.caption, row.flag, row.url));
}

RuleRow Rule(const QString& name, const QString& flag, const QString& url) {
    return RuleRow{QVariant(), name, flag, url};
}

// The timers the view has registered: the monitor timer, when it runs.
QList<int> TimerIntervals(QObject* object) {
    QList<int> intervals;
    for (const auto& timer : QAbstractEventDispatcher::instance()->registeredTimers(object))
        intervals.append(timer.interval);
    return intervals;
}

} // namespace

class TestMonitorCycle final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempRuleDb> m_db;
    std::unique_ptr<BrowserSnapshot> m_snapshot;
    FakeShellWindows m_shell;
    FakeTopLevelWindows m_windows;
    std::unique_ptr<CWinwardenView> m_view;

    QTableWidget* List() const { return m_view->ListControl(); }

    QList<Row> Rows() const {
        QList<Row> rows;
        for (int r = 0; r < List()->rowCount(); ++r) {
            Row row;
            QString* cells[] = {&row.caption, &row.flag, &row.url};
            for (int c = 0; c < 3; ++c)
                if (const QTableWidgetItem* item = List()->item(r, c))
                    *cells[c] = item->text();
            rows.append(row);
        }
        return rows;
    }

    void Tick() { m_view->OnTimer(CWinwardenView::kMonitorTimerId); }

private Q_SLOTS:
    void init() {
        m_db = std::make_unique<TempRuleDb>();
        m_snapshot = std::make_unique<BrowserSnapshot>();
        m_shell = FakeShellWindows();
        m_windows = FakeTopLevelWindows();
        MonitorServices services;
        services.shellWindows = &m_shell;
        services.topLevelWindows = &m_windows;
        services.snapshot = m_snapshot.get();
        services.databasePath = m_db->path();
        m_view = std::make_unique<CWinwardenView>(nullptr, services);
        m_view->resize(800, 500);
    }

    void cleanup() {
        m_view.reset();
        m_db.reset();
    }

    void firstSightStoresRuleAndListsRowOnce() {
        // Quotes and percent signs travel into the statements as data; letter case matters.
        const QString title = QStringLiteral("O'Brien 100% \"新闻\"");
        const QString url = QStringLiteral("http://example.test/?q='x'%20");
        m_shell.items = {FakeShellWindows::Page(title, url),
                         FakeShellWindows::Page(QString(), QStringLiteral("http://untitled/")),
                         FakeShellWindows::Other(ShellWindows::Item::Kind::NotBrowser),
                         FakeShellWindows::Page(title.toUpper(), url)};
        m_view->OnStart();
        Tick();

        QCOMPARE(m_db->rows(),
                 (QList<RuleRow>{Rule(title, kPass, url), Rule(title.toUpper(), kPass, url)}));
        QCOMPARE(Rows(), (QList<Row>{{Caption(title), kPass, url},
                                     {Caption(title.toUpper()), kPass, url}}));
        QVERIFY(m_windows.closeRequests.isEmpty());

        // Seen again: nothing new is stored or listed.
        Tick();
        QCOMPARE(m_db->rows().size(), 2);
        QCOMPARE(List()->rowCount(), 2);
        QVERIFY(m_view->Store().AtEnd());
    }

    void blockedWindowIsAskedToCloseEachCycleAndStillListed() {
        const QString title = QStringLiteral("赌场");
        const QString url = QStringLiteral("http://casino.test/");
        const QString gone = QStringLiteral("已关的页");
        m_db->insert(title, kBlock, url);
        m_db->insert(gone, kBlock, QStringLiteral("http://gone.test/"));
        m_windows.captions = {Caption(title)};
        m_shell.SetPages({{title, url}, {gone, QStringLiteral("http://gone.test/")}});
        m_view->OnStart();

        Tick();
        QCOMPARE(m_windows.CloseRequestsFor(Caption(title)), 1);
        // The window that no longer exists is looked for, and nothing is asked of it.
        QVERIFY(m_windows.lookups.contains(Caption(gone)));
        QCOMPARE(m_windows.closeRequests.size(), 1);
        QCOMPARE(Rows().first(), (Row{Caption(title), kPass, url}));

        Tick();
        QCOMPARE(m_windows.CloseRequestsFor(Caption(title)), 2);
        QCOMPARE(List()->rowCount(), 2);
        QCOMPARE(m_db->rows().size(), 2);
    }

    void blockingDependsOnHowTheFlagBegins_data() {
        QTest::addColumn<std::optional<QString>>("flag");
        QTest::addColumn<int>("closes");
        QTest::newRow("block") << std::optional(kBlock) << 1;
        QTest::newRow("longer") << std::optional(QStringLiteral("禁止访问")) << 1;
        QTest::newRow("half") << std::optional(QStringLiteral("禁")) << 0;
        QTest::newRow("empty") << std::optional(QStringLiteral("")) << 0;
        QTest::newRow("null") << std::optional<QString>() << 0;
        QTest::newRow("pass") << std::optional(kPass) << 0;
        QTest::newRow("leading space") << std::optional(QStringLiteral(" 禁止")) << 0;
    }

    void blockingDependsOnHowTheFlagBegins() {
        QFETCH(std::optional<QString>, flag);
        QFETCH(int, closes);
        const QString title = QStringLiteral("某页");
        m_db->insert(title, flag, QStringLiteral("http://page.test/"));
        m_windows.captions = {Caption(title)};
        m_shell.SetPages({{title, QStringLiteral("http://page.test/")}});
        m_view->OnStart();

        Tick();
        QCOMPARE(m_windows.closeRequests.size(), closes);
        QCOMPARE(m_db->rows().size(), 1);
        QCOMPARE(Rows(),
                 (QList<Row>{{Caption(title), kPass, QStringLiteral("http://page.test/")}}));
    }

    void sameTitleTwiceGivesOneRuleOneRowAndTwoCloses() {
        const QString title = QStringLiteral("重复");
        m_shell.SetPages(
            {{title, QStringLiteral("http://one/")}, {title, QStringLiteral("http://two/")}});
        m_view->OnStart();
        Tick();
        QCOMPARE(m_db->rows(), (QList<RuleRow>{Rule(title, kPass, QStringLiteral("http://one/"))}));
        QCOMPARE(Rows(), (QList<Row>{{Caption(title), kPass, QStringLiteral("http://one/")}}));

        m_db->exec(QStringLiteral("UPDATE 窗口名表 SET 是否禁止 = '禁止'"));
        m_windows.captions = {Caption(title)};
        Tick();
        QCOMPARE(m_windows.CloseRequestsFor(Caption(title)), 2);
        QCOMPARE(List()->rowCount(), 1);
    }

    void startAndStop() {
        QVERIFY(TimerIntervals(m_view.get()).isEmpty());
        QVERIFY(m_view->OnCmdMsg(cmd::kStart));
        QVERIFY(m_view->IsMonitoring() && !List()->isHidden());
        QCOMPARE(TimerIntervals(m_view.get()), QList<int>{CWinwardenView::kMonitorPeriodMs});
        QList<std::pair<QString, int>> columns;
        for (int c = 0; c < List()->columnCount(); ++c) {
            columns.append({List()->horizontalHeaderItem(c)->text(), List()->columnWidth(c)});
            QVERIFY(List()->horizontalHeaderItem(c)->textAlignment() & Qt::AlignLeft);
        }
        QCOMPARE(columns, (QList<std::pair<QString, int>>{{text::kColumnCaption, 680},
                                                          {text::kColumnFlag, 60},
                                                          {text::kColumnUrl, 40}}));

        m_shell.SetPages({{QStringLiteral("甲"), QStringLiteral("http://a/")}});
        Tick();
        QCOMPARE(List()->rowHeight(0), 20);
        // A second start leaves the live list and the one timer alone.
        m_view->OnStart();
        QCOMPARE(List()->rowCount(), 1);
        QCOMPARE(TimerIntervals(m_view.get()).size(), 1);

        QVERIFY(m_view->OnCmdMsg(cmd::kStop));
        QVERIFY(!m_view->IsMonitoring() && List()->isHidden());
        QCOMPARE(List()->rowCount() + List()->columnCount(), 0);
        QVERIFY(TimerIntervals(m_view.get()).isEmpty());

        // Stopping with monitoring off still empties and hides a rule list.
        m_view->OnShowPassed();
        QCOMPARE(List()->rowCount(), 1);
        m_view->OnStop();
        QVERIFY(!m_view->IsMonitoring() && List()->isHidden());
        QCOMPARE(List()->rowCount() + List()->columnCount(), 0);

        // Starting from a rule list begins an empty live list; the known window is listed
        // at the next tick, not stored again.
        m_view->OnShowPassed();
        m_view->OnStart();
        QCOMPARE(List()->rowCount(), 0);
        Tick();
        QCOMPARE(Rows(),
                 (QList<Row>{{Caption(QStringLiteral("甲")), kPass, QStringLiteral("http://a/")}}));
        QCOMPARE(m_db->rows().size(), 1);

        QVERIFY(!m_view->OnCmdMsg(cmd::kAppAbout));
    }

    void ruleListRowsCountAsListedWindows() {
        const QString a = QStringLiteral("甲"), b = QStringLiteral("乙");
        m_db->insert(a, kPass, QStringLiteral("http://a/"));
        m_shell.SetPages({{a, QStringLiteral("http://a-now/")}, {b, QStringLiteral("http://b/")}});
        m_view->OnStart();
        m_view->OnShowPassed();
        QCOMPARE(List()->rowCount(), 1);

        // The cycle appends below the rule rows, and only what they do not hold already.
        Tick();
        QCOMPARE(Rows(), (QList<Row>{{Caption(a), kPass, QStringLiteral("http://a/")},
                                     {Caption(b), kPass, QStringLiteral("http://b/")}}));

        // Emptied while monitoring: the next cycle lists every window again.
        m_view->OnRefreshList();
        QCOMPARE(List()->rowCount(), 0);
        Tick();
        QCOMPARE(Rows(), (QList<Row>{{Caption(a), kPass, QStringLiteral("http://a-now/")},
                                     {Caption(b), kPass, QStringLiteral("http://b/")}}));
    }

    void entriesLeftFromEarlierPassesAreProcessedAgain() {
        const QString title = QStringLiteral("旧页");
        m_db->insert(title, kBlock, QStringLiteral("http://old/"));
        m_windows.captions = {Caption(title)};
        m_shell.SetPages({{title, QStringLiteral("http://old/")}});
        m_view->OnStart();
        Tick();
        QCOMPARE(m_windows.closeRequests.size(), 1);

        // The page has gone from position 0, but the snapshot still holds its title there.
        m_shell.items = {FakeShellWindows::Other()};
        m_windows.captions.clear();
        m_view->OnStop();
        m_view->OnStart();
        Tick();
        QCOMPARE(m_windows.lookups.count(Caption(title)), 2);
        QCOMPARE(m_windows.closeRequests.size(), 1);
        QCOMPARE(Rows(), (QList<Row>{{Caption(title), kPass, QStringLiteral("http://old/")}}));

        // An unreadable collection is an empty one: no lookups, the list stays.
        m_shell.failCreate = true;
        Tick();
        QCOMPARE(m_windows.lookups.count(Caption(title)), 2);
        QCOMPARE(List()->rowCount(), 1);
    }

    void anyTimerEventRunsACycle() {
        m_shell.SetPages({{QStringLiteral("乙"), QStringLiteral("http://b/")}});
        QTimerEvent stray(4242);
        QCoreApplication::sendEvent(m_view.get(), &stray);
        QCOMPARE(m_db->rows().size(), 1);
        // Even before any start, the window is listed once, not again at every tick.
        QCoreApplication::sendEvent(m_view.get(), &stray);
        QCOMPARE(Rows(),
                 (QList<Row>{{Caption(QStringLiteral("乙")), kPass, QStringLiteral("http://b/")}}));

        // And the real timer drives the cycle by itself once started.
        m_view->OnStop();
        m_shell.SetPages({{QStringLiteral("丙"), QStringLiteral("http://c/")}});
        m_view->OnStart();
        QTRY_COMPARE_WITH_TIMEOUT(List()->rowCount(), 1, CWinwardenView::kMonitorPeriodMs * 2);
        QCOMPARE(m_db->rows().size(), 2);
    }

    void storeFailureSkipsTheCycleAndIsReportedOnce() {
        QSignalSpy status(m_view.get(), &CWinwardenView::statusMessage);
        m_shell.SetPages({{QStringLiteral("一"), QStringLiteral("http://1/")}});
        m_view->OnStart();
        Tick();
        QCOMPARE(List()->rowCount(), 1);

        // The table disappears under the running program.
        m_db->exec(QStringLiteral("ALTER TABLE 窗口名表 RENAME TO 别处"));
        m_shell.SetPages({{QStringLiteral("一"), QStringLiteral("http://1/")},
                          {QStringLiteral("二"), QStringLiteral("http://2/")}});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(".+")));
        Tick();
        Tick();
        // A cycle with no page to look up says nothing about the store either way.
        const QList<ShellWindows::Item> pages = m_shell.items;
        m_shell.items.clear();
        Tick();
        m_shell.items = pages;
        Tick();
        QCOMPARE(status.size(), 1);
        QVERIFY(!status.first().first().toString().isEmpty());
        QCOMPARE(List()->rowCount(), 1);
        QVERIFY(m_view->Store().AtEnd());
        QCOMPARE(TimerIntervals(m_view.get()), QList<int>{CWinwardenView::kMonitorPeriodMs});

        // Back again: the next tick carries on with the rules as they were.
        m_db->exec(QStringLiteral("ALTER TABLE 别处 RENAME TO 窗口名表"));
        Tick();
        QCOMPARE(m_db->rows(),
                 (QList<RuleRow>{Rule(QStringLiteral("一"), kPass, QStringLiteral("http://1/")),
                                 Rule(QStringLiteral("二"), kPass, QStringLiteral("http://2/"))}));
        QCOMPARE(List()->rowCount(), 2);
        QCOMPARE(status.size(), 1);

        // A new failure after a good cycle is news again.
        m_db->exec(QStringLiteral("DROP TABLE 窗口名表"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(".+")));
        Tick();
        QCOMPARE(status.size(), 2);
    }

    void listAlwaysCoversTheView() {
        m_view->OnInitialUpdate();
        m_view->show();
        m_view->resize(640, 360);
        QCOMPARE(List()->geometry(), QRect(0, 0, 640, 360));
        QCOMPARE(List()->parentWidget(), m_view.get());
        QCOMPARE(List()->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(List()->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(List()->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(List()->verticalHeader()->isHidden());
    }
};

QTEST_MAIN(TestMonitorCycle)
#include "test_monitorcycle.moc"
