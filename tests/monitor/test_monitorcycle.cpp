// The monitor cycle against a real rule database, with the browser's windows faked.
#include "monitor/winwardenview.h"
#include "res/commandids.h"
#include "res/texts.h"
#include "survey/browsersnapshot.h"
#include "tests/support/fakes.h"
#include "tests/support/testdb.h"
#include "tests/support/viewrig.h"

#include <QAbstractEventDispatcher>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

using Rig = ViewRig;

class TestMonitorCycle final : public QObject {
    Q_OBJECT
    std::unique_ptr<Rig> m;

    static QString Live(QString t, QString url) {
        return t + text::kCaptionSuffix + u"|通过|"_s + url;
    }
    QTableWidget* List() const { return m->view.ListControl(); }
    QString Cell(int r, int c) const { return m->Cell(r, c); }
    QStringList Rows() const { return m->Rows(); }
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

    // Stored and listed in the cycle that first sees it, once per title (case counts), first URL.
    void firstSightStoresRuleAndListsRowOnce() {
        const QString title = u"O'Brien 100% \"新闻\""_s, url = u"http://example.test/?q='x'%20"_s;
        m->shell.SetPages({title, url, QString(), u"http://untitled/"_s, title.toUpper(), url,
                           title, u"http://later/"_s});
        for (int tick = 0; tick < 2; ++tick) {
            Tick();
            QCOMPARE(m->db.rows(), (QList<RuleRow>{{{}, title, u"通过"_s, url},
                                                   {{}, title.toUpper(), u"通过"_s, url}}));
            QCOMPARE(Rows(), (QStringList{Live(title, url), Live(title.toUpper(), url)}));
        }
    }

    void blockingDependsOnHowTheFlagBegins_data() {
        QTest::addColumn<std::optional<QString>>("flag");
        QTest::addColumn<int>("pages"); // snapshot entries with the one title
        QTest::addColumn<int>("closes");
        QTest::newRow("block") << std::optional(u"禁止"_s) << 1 << 1;
        QTest::newRow("block, title twice") << std::optional(u"禁止"_s) << 2 << 2;
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
        m->windows.captions = {title + text::kCaptionSuffix};
        for (int tick = 1; tick <= 2; ++tick) {
            Tick();
            QCOMPARE(m->windows.closeRequests.size(), tick * closes);
            QCOMPARE(m->db.rows(), (QList<RuleRow>{{{}, title, flag, url}}));
            QCOMPARE(Rows(), QStringList{Live(title, url)});
        }
    }

    // Stray and stale input, repeated starts, stops with monitoring off.
    void startStopAndStaleEntries() {
        const QString title = u"旧页"_s, url = u"http://old/"_s;
        m->db.insert(title, u"禁止"_s, url);
        QVERIFY(m->view.OnCmdMsg(cmd::kStart));
        m->shell.SetPages({title, url});
        QTimerEvent stray(4242); // a timer event of any id runs a cycle
        QCoreApplication::sendEvent(&m->view, &stray);
        m->view.OnStart(); // a second start leaves the live list and the one timer alone
        QCOMPARE(State(), u"on shown 1x3 2000"_s);
        // The page has gone from position 0, but the snapshot still holds its title there.
        m->shell.items = {{ShellWindows::Item::Kind::NoHtmlDocument, {}, {}}};
        QVERIFY(m->view.OnCmdMsg(cmd::kStop));
        QCOMPARE(State(), u"off hidden 0x0"_s);
        m->view.OnShowBlocked();
        QCOMPARE(State(), u"off shown 1x3"_s);
        m->view.OnStop(); // with monitoring off, it still empties and hides a rule list
        QCOMPARE(State(), u"off hidden 0x0"_s);
        m->view.OnShowBlocked();
        m->view.OnStart(); // from a rule list, an empty live list
        QCOMPARE(State(), u"on shown 0x3 2000"_s);
        Tick();
        QCOMPARE(m->windows.lookups, QStringList(2, title + text::kCaptionSuffix));
        QCOMPARE(Rows(), QStringList{Live(title, url)});
    }

    // Reported once per run of failures; the timer, the list and the rules carry on.
    void storeFailureSkipsTheCycleAndIsReportedOnce() {
        QSignalSpy status(&m->view, &CWinwardenView::statusMessage);
        const QStringList one{u"一"_s, u"http://1/"_s}, two = one + QStringList{u"二"_s, u"2"_s};
        m->shell.SetPages(one);
        m->view.OnStart();
        Tick();
        m->db.exec(u"ALTER TABLE 窗口名表 RENAME TO 别处"_s);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u".+"_s));
        for (const QStringList& pages : {two, QStringList(), two}) {
            m->shell.SetPages(pages); // a cycle with no page says nothing about the store
            Tick();
        }
        QCOMPARE(status.size(), 1);
        QCOMPARE(State(), u"on shown 1x3 2000"_s);
        m->db.exec(u"ALTER TABLE 别处 RENAME TO 窗口名表"_s);
        Tick();
        QCOMPARE(m->db.rows().size(), 2);
        QCOMPARE(Rows().size(), 2);
        m->db.exec(u"DROP TABLE 窗口名表"_s);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u".+"_s));
        Tick();
        QCOMPARE(status.size(), 2);
    }
};

QTEST_MAIN(TestMonitorCycle)
#include "test_monitorcycle.moc"
