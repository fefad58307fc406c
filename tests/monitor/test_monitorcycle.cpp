// The live list as the monitor fills it, against a real rule database and a fake browser.
#include "res/commandids.h"
#include "res/texts.h"
#include "tests/support/modalanswer.h"
#include "tests/support/viewrig.h"

#include <QAbstractEventDispatcher>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

class TestMonitorCycle final : public QObject {
    Q_OBJECT
    std::unique_ptr<ViewRig> m;

    static QString Live(QString t, QString flag, QString url) {
        return t + text::kCaptionSuffix + u'|' + flag + u'|' + url;
    }
    QTableWidget* List() const { return m->view.ListControl(); }
    QString State() const {
        QStringList state{m->view.IsMonitoring() ? u"on"_s : u"off"_s,
                          List()->isHidden() ? u"hidden"_s : u"shown"_s,
                          u"%1x%2"_s.arg(List()->rowCount()).arg(List()->columnCount())};
        for (const auto& timer : QAbstractEventDispatcher::instance()->registeredTimers(&m->engine))
            state << QString::number(timer.interval);
        return state.join(u' ');
    }

private Q_SLOTS:
    void init() { m = std::make_unique<ViewRig>(); }

    // Each window once, with the flag its rule holds when it is listed: a page recorded in
    // this cycle "通过", a blocked one "禁止", anything else the stored text. The flag dialog
    // opens on that flag, and OK without a change keeps it.
    void rowsShowTheFlagTheirRuleHolds() {
        m->db.insert(u"坏页"_s, u"禁止"_s, u"http://bad/"_s);
        m->db.insert(u"怪页"_s, u"待定"_s, u"http://odd/"_s);
        m->source->SetPages({u"新页"_s, u"http://new/"_s, u"坏页"_s, u"http://bad/"_s, u"怪页"_s,
                             u"http://odd/"_s, u"新页"_s, u"http://again/"_s});
        m->view.OnStart();
        for (int tick = 0; tick < 2; ++tick) {
            m->Tick();
            QCOMPARE(m->Rows(), (QStringList{Live(u"新页"_s, u"通过"_s, u"http://new/"_s),
                                             Live(u"坏页"_s, u"禁止"_s, u"http://bad/"_s),
                                             Live(u"怪页"_s, u"待定"_s, u"http://odd/"_s)}));
        }
        List()->selectRow(1);
        QString shown;
        ModalAnswer answer({[&](QWidget* dialog) {
            shown = Child<QLineEdit>(dialog, "flag")->text();
            Child<QPushButton>(dialog, "ok")->click();
        }});
        m->view.OnListDblClk();
        QCOMPARE(shown + m->Cell(1, 1), u"禁止禁止"_s);
        QCOMPARE(m->db.exec(u"SELECT 是否禁止 FROM 窗口名表 WHERE 窗口名称='坏页'"_s), u"禁止"_s);
        // Another program blocks a listed page: its row says so at the next cycle.
        m->db.exec(u"UPDATE 窗口名表 SET 是否禁止='禁止' WHERE 窗口名称='新页'"_s);
        m->Tick();
        QCOMPARE(m->Rows().first(), Live(u"新页"_s, u"禁止"_s, u"http://new/"_s));
    }

    // Start, stop, stray timer events, and a rule list: the list and the one timer follow.
    void startAndStop() {
        m->source->SetPages({u"页"_s, u"http://p/"_s});
        QVERIFY(m->view.OnCmdMsg(cmd::kStart));
        QTimerEvent stray(4242); // a timer event of any id runs a cycle
        QCoreApplication::sendEvent(&m->view, &stray);
        QTRY_COMPARE(List()->rowCount(), 1);
        m->view.OnStart(); // a second start leaves the live list and the one timer alone
        QCOMPARE(State(), u"on shown 1x3 2000"_s);
        QVERIFY(m->view.OnCmdMsg(cmd::kStop));
        QCOMPARE(State(), u"off hidden 0x0"_s);
        m->view.OnShowBlocked();
        QCOMPARE(State(), u"off shown 0x3"_s);
        m->view.OnStop(); // with monitoring off, it still empties and hides a rule list
        QCOMPARE(State(), u"off hidden 0x0"_s);
        m->view.OnShowPassed();
        m->view.OnStart(); // from a rule list, an empty live list
        QCOMPARE(State(), u"on shown 0x3 2000"_s);
        m->Tick();
        QCOMPARE(m->Rows(), QStringList{Live(u"页"_s, u"通过"_s, u"http://p/"_s)});
    }

    // A title of any length is drawn cut, and kept whole for the dialog and the commands.
    void longCaptionsAreDrawnCut() {
        const QString title(100000, u'长');
        m->source->SetPages({title, u"http://long/"_s});
        m->Tick();
        QCOMPARE(m->Cell(0, 0), title + text::kCaptionSuffix);
        QVERIFY(List()->item(0, 0)->text().size() <= CWinwardenView::kMaxDrawnChars + 1);
    }
};

QTEST_MAIN(TestMonitorCycle)
#include "test_monitorcycle.moc"
