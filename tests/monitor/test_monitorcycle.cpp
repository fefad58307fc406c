// The monitor cycle against a real rule database, with the browser's windows faked.
#include "monitor/winwardenview.h"
#include "res/commandids.h"
#include "res/texts.h"
#include "survey/browsersnapshot.h"
#include "tests/support/fakes.h"
#include "tests/support/testdb.h"

#include <QAbstractEventDispatcher>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <memory>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

// A view over a fresh rule database and a snapshot of its own, the browser faked.
struct Rig {
    TempRuleDb db;
    BrowserSnapshot snapshot;
    FakeShellWindows shell;
    FakeTopLevelWindows windows;
    CWinwardenView view{nullptr, {&shell, &windows, &snapshot, db.path()}};
};

class TestMonitorCycle final : public QObject {
    Q_OBJECT
    std::unique_ptr<Rig> m;
    const QString kPass = u"通过"_s, kBlock = u"禁止"_s;

    static QString Caption(const QString& title) { return title + text::kCaptionSuffix; }
    static QString Live(const QString& t, const QString& url) {
        return Caption(t) + u"|通过|"_s + url;
    }

    QTableWidget* List() const { return m->view.ListControl(); }
    // The live list as "caption|flag|url" lines.
    QStringList Rows() const {
        QStringList rows;
        for (int r = 0; r < List()->rowCount(); ++r)
            rows << u"%1|%2|%3"_s.arg(Cell(r, 0), Cell(r, 1), Cell(r, 2));
        return rows;
    }
    QString Cell(int r, int c) const { return List()->model()->index(r, c).data().toString(); }
    // Monitoring on or off, the list shown or hidden, its rows x columns, the timers' intervals.
    QString State() const {
        QStringList state{m->view.IsMonitoring() ? u"on"_s : u"off"_s,
                          List()->isHidden() ? u"hidden"_s : u"shown"_s,
                          u"%1x%2"_s.arg(List()->rowCount()).arg(List()->columnCount())};
        for (const auto& timer : QAbstractEventDispatcher::instance()->registeredTimers(&m->view))
            state << QString::number(timer.interval);
        return state.join(u' ');
    }
    void Tick() { m->view.OnTimer(CWinwardenView::kMonitorTimerId); }

private Q_SLOTS:
    void init() { m = std::make_unique<Rig>(); }
    void cleanup() { m.reset(); }

    // Stored and listed in the cycle that first sees the title, once per title, first URL wins.
    void firstSightStoresRuleAndListsRowOnce() {
        // Quotes and percent signs travel into the statements as data; letter case matters.
        const QString title = u"O'Brien 100% \"新闻\""_s, url = u"http://example.test/?q='x'%20"_s;
        m->shell.SetPages({title, url, QString(), u"http://untitled/"_s, title.toUpper(), url,
                           title, u"http://later/"_s});
        m->shell.items.insert(2, {ShellWindows::Item::Kind::NotBrowser, u"x"_s, u"http://x/"_s});
        m->view.OnStart();
        for (int tick = 0; tick < 2; ++tick) {
            Tick();
            QCOMPARE(m->db.rows(),
                     (QList<RuleRow>{{{}, title, kPass, url}, {{}, title.toUpper(), kPass, url}}));
            QCOMPARE(Rows(), (QStringList{Live(title, url), Live(title.toUpper(), url)}));
        }
        QVERIFY(m->windows.closeRequests.isEmpty());
        QVERIFY(m->view.Store().AtEnd());
    }

    void blockingDependsOnHowTheFlagBegins_data() {
        QTest::addColumn<std::optional<QString>>("flag");
        QTest::addColumn<int>("pages"); // snapshot entries with the one title
        QTest::addColumn<int>("closes");
        QTest::newRow("block") << std::optional(kBlock) << 1 << 1;
        QTest::newRow("block, title twice") << std::optional(kBlock) << 2 << 2;
        QTest::newRow("longer") << std::optional(u"禁止访问"_s) << 1 << 1;
        QTest::newRow("half") << std::optional(u"禁"_s) << 1 << 0;
        QTest::newRow("empty") << std::optional(u""_s) << 1 << 0;
        QTest::newRow("null") << std::optional<QString>() << 1 << 0;
        QTest::newRow("leading space") << std::optional(u" 禁止"_s) << 1 << 0;
    }
    // Close requests at every cycle while the window stays open; it is listed as "通过" anyway.
    void blockingDependsOnHowTheFlagBegins() {
        QFETCH(std::optional<QString>, flag);
        QFETCH(int, pages);
        QFETCH(int, closes);
        const QString title = u"某页"_s, url = u"http://page.test/"_s;
        m->db.insert(title, flag, url);
        m->shell.SetPages(QStringList{title, url, title, u"http://two/"_s}.first(2 * pages));
        m->windows.captions = {Caption(title)};
        m->view.OnStart();
        for (int tick = 1; tick <= 2; ++tick) {
            Tick();
            QCOMPARE(m->windows.closeRequests.size(), tick * closes);
            QCOMPARE(m->db.rows(), (QList<RuleRow>{{{}, title, flag, url}}));
            QCOMPARE(Rows(), QStringList{Live(title, url)});
        }
    }

    void startAndStop() {
        QVERIFY(m->view.OnCmdMsg(cmd::kStart));
        QCOMPARE(State(), u"on shown 0x3 2000"_s);
        QStringList columns;
        for (int c = 0; c < List()->columnCount(); ++c)
            columns << List()->horizontalHeaderItem(c)->text() + u'/' +
                           QString::number(List()->columnWidth(c));
        QCOMPARE(columns, (QStringList{text::kColumnCaption + u"/680"_s,
                                       text::kColumnFlag + u"/60"_s, text::kColumnUrl + u"/40"_s}));
        m->shell.SetPages({u"甲"_s, u"http://a/"_s});
        Tick();
        m->view.OnStart(); // a second start leaves the live list and the one timer alone
        QCOMPARE(State(), u"on shown 1x3 2000"_s);
        QCOMPARE(List()->rowHeight(0), 20);

        // Rule rows on show count as listed: a cycle appends only the windows they lack.
        m->shell.SetPages({u"甲"_s, u"http://a-now/"_s, u"乙"_s, u"http://b/"_s});
        m->view.OnShowPassed();
        Tick();
        QCOMPARE(Rows(),
                 (QStringList{Live(u"甲"_s, u"http://a/"_s), Live(u"乙"_s, u"http://b/"_s)}));

        QVERIFY(m->view.OnCmdMsg(cmd::kStop));
        QCOMPARE(State(), u"off hidden 0x0"_s);
        // Stopping with monitoring off still empties and hides a rule list.
        m->view.OnShowPassed();
        QCOMPARE(State(), u"off shown 2x3"_s);
        m->view.OnStop();
        QCOMPARE(State(), u"off hidden 0x0"_s);
        // Starting from a rule list begins an empty live list.
        m->view.OnShowPassed();
        m->view.OnStart();
        QCOMPARE(State(), u"on shown 0x3 2000"_s);
    }

    void entriesLeftFromEarlierPassesAreProcessedAgain() {
        const QString title = u"旧页"_s;
        m->db.insert(title, kBlock, u"http://old/"_s);
        m->shell.SetPages({title, u"http://old/"_s});
        // A timer event of any id runs a cycle, even before any start.
        QTimerEvent stray(4242);
        QCoreApplication::sendEvent(&m->view, &stray);
        QCOMPARE(Rows(), QStringList{Live(title, u"http://old/"_s)});
        // The page has gone from position 0, but the snapshot still holds its title there.
        m->shell.items = {{ShellWindows::Item::Kind::NoHtmlDocument, {}, {}}};
        m->view.OnStop();
        m->view.OnStart();
        Tick();
        QCOMPARE(m->windows.lookups, QStringList(2, Caption(title)));
        QCOMPARE(Rows(), QStringList{Live(title, u"http://old/"_s)});
        // An unreadable collection is an empty one: no lookups, the list stays.
        m->shell.SetPages({title, u"http://old/"_s});
        m->shell.failCreate = true;
        Tick();
        QCOMPARE(m->windows.lookups.size(), 2);
        QCOMPARE(List()->rowCount(), 1);
    }

    // Reported once per run of failures; the timer, the list and the rules carry on.
    void storeFailureSkipsTheCycleAndIsReportedOnce() {
        QSignalSpy status(&m->view, &CWinwardenView::statusMessage);
        const QStringList one{u"一"_s, u"http://1/"_s},
            two = one + QStringList{u"二"_s, u"http://2/"_s};
        m->shell.SetPages(one);
        m->view.OnStart();
        Tick();
        m->db.exec(u"ALTER TABLE 窗口名表 RENAME TO 别处"_s);
        m->shell.SetPages(two);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u".+"_s));
        Tick();
        m->shell.SetPages({}); // a cycle with no page to look up says nothing about the store
        Tick();
        m->shell.SetPages(two);
        Tick();
        QCOMPARE(status.size(), 1);
        QCOMPARE(State(), u"on shown 1x3 2000"_s);

        m->db.exec(u"ALTER TABLE 别处 RENAME TO 窗口名表"_s);
        Tick();
        QCOMPARE(m->db.rows().size(), 2);
        QCOMPARE(Rows().size(), 2);
        QCOMPARE(status.size(), 1);
        m->db.exec(u"DROP TABLE 窗口名表"_s);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u".+"_s));
        Tick();
        QCOMPARE(status.size(), 2);
    }
};

QTEST_MAIN(TestMonitorCycle)
#include "test_monitorcycle.moc"
