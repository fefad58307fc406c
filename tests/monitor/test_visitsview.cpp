// 访问记录 in the window: a real view over a real engine and rule file, driven by keys.
#include "monitor/visitsdlg.h"
#include "res/commandids.h"
#include "store/flag.h"
#include "tests/support/modalanswer.h"
#include "tests/support/viewrig.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

VisitRow Visit(const QString& user, const QString& host, const QDateTime& start, int minutes,
               std::optional<int> frontMinutes, bool blocked = false) {
    VisitRow row;
    row.uid = user == u"alice"_s ? 1001 : 1002;
    row.user = user;
    row.station = u"pc"_s;
    row.title = host + u" 页"_s;
    row.host = host;
    row.url = u"https://"_s + host + u"/"_s;
    row.start = start.toMSecsSinceEpoch();
    row.end = row.start + minutes * 60'000;
    if (frontMinutes)
        row.frontMs = *frontMinutes * 60'000;
    row.result = blocked ? kFlagBlock : kFlagPass;
    row.rule = blocked ? u"网站 "_s + host : QString();
    return row;
}

} // namespace

class TestVisitsView final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Opened from 窗口 → 访问记录 on today: each site's time in front (the open time where
    // unknown), biggest first; the hours with a page open; the blocked tries; a user picked
    // narrows it all to theirs; Alt+← and Alt+→ walk the days; Ctrl+F filters the visits; a
    // double-click on a site offers to block it, and yes adds the 网站 rule.
    void aDayAtAGlanceByKeyboard() {
        ViewRig m;
        const QDate today = QDate::currentDate();
        std::vector<VisitRow> rows{
            Visit(u"alice"_s, u"game.test"_s, QDateTime(today, QTime(9, 10)), 60, 40),
            Visit(u"alice"_s, u"school.test"_s, QDateTime(today, QTime(14, 0)), 30, std::nullopt),
            Visit(u"alice"_s, u"bad.test"_s, QDateTime(today, QTime(14, 40)), 1, 0, true),
            Visit(u"bob"_s, u"school.test"_s, QDateTime(today, QTime(16, 0)), 50, 50),
            Visit(u"bob"_s, u"video.test"_s, QDateTime(today.addDays(-1), QTime(20, 0)), 5, 5),
        };
        std::vector<VisitRow*> batch;
        for (VisitRow& row : rows)
            batch.push_back(&row);
        VisitStore(m.engine.Store()).Write(batch);

        QVERIFY(m.view.OnCmdMsg(cmd::kShowVisits));
        CVisitsDlg* dlg = m.view.VisitsWindow();
        QVERIFY(dlg && dlg->isVisible());
        QCOMPARE(dlg->Day(), today);
        QCOMPARE(Column(dlg->SiteList(), 0),
                 (QStringList{u"school.test"_s, u"game.test"_s, u"bad.test"_s}));
        QCOMPARE(Column(dlg->SiteList(), 1), (QStringList{u"1小时20分"_s, u"40分"_s, u"0秒"_s}));
        QCOMPARE(dlg->OpenHoursText(), u"9时、10时、14时、16时"_s);
        QCOMPARE(Column(dlg->BlockedList(), 4), QStringList{u"网站 bad.test"_s});
        QCOMPARE(dlg->UserBox()->count(), 3); // everyone, alice, bob

        dlg->ShowUser(u"bob"_s);
        QCOMPARE(Column(dlg->SiteList(), 0), QStringList{u"school.test"_s});
        QCOMPARE(dlg->BlockedList()->rowCount(), 0);

        QApplication::setActiveWindow(dlg);
        QVERIFY(QTest::qWaitForWindowActive(dlg));
        QTest::keyClick(dlg, Qt::Key_Left, Qt::AltModifier);
        QCOMPARE(dlg->Day(), today.addDays(-1));
        QCOMPARE(Column(dlg->SiteList(), 0), QStringList{u"video.test"_s});
        QTest::keyClick(dlg, Qt::Key_Right, Qt::AltModifier);
        QCOMPARE(dlg->Day(), today);
        QCOMPARE(dlg->UserBox()->currentText(), u"bob"_s); // kept across days
        dlg->ShowUser({});

        QTest::keyClick(dlg, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(dlg->FilterEdit()->isVisible());
        QTest::keyClicks(dlg->FilterEdit(), u"GAME"_s);
        QCOMPARE(Column(dlg->VisitList(), 5, true), QStringList{u"https://game.test/"_s});
        QTest::keyClick(dlg->FilterEdit(), Qt::Key_Escape);
        QCOMPARE(Column(dlg->VisitList(), 5, true).size(), 4);

        QStringList asked;
        ModalAnswer answers({[&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            asked << box->text();
            box->button(QMessageBox::Yes)->click();
        }});
        dlg->SiteList()->selectRow(1);
        Q_EMIT dlg->SiteList()->cellDoubleClicked(1, 0);
        QCOMPARE(asked, QStringList{u"禁止这个网站：game.test ？"_s});
        const std::optional<MatchRuleRow> rule = m.engine.FindMatchRule(kKindSite, u"game.test"_s);
        QVERIFY(rule && rule->flag == kFlagBlock);
    }

    // Every list keeps the column widths the user set, in the settings.
    void columnWidthsAreRemembered() {
        QSettings().remove(u"Columns"_s);
        {
            ViewRig m;
            m.view.OnCmdMsg(cmd::kShowVisits);
            m.view.VisitsWindow()->VisitList()->setColumnWidth(5, 333);
        }
        ViewRig again;
        again.view.OnCmdMsg(cmd::kShowVisits);
        QCOMPARE(again.view.VisitsWindow()->VisitList()->columnWidth(5), 333);
        // The rule lists too, each kind apart; the address has room to be read at first.
        again.view.OnShowPassed();
        QVERIFY(again.view.ListControl()->columnWidth(2) >= 200);
        again.view.ListControl()->setColumnWidth(0, 123);
        again.view.OnShowMatchRules();
        QVERIFY(again.view.ListControl()->columnWidth(0) != 123);
        ViewRig third;
        third.view.OnShowBlocked();
        QCOMPARE(third.view.ListControl()->columnWidth(0), 123);
    }
};

QTEST_MAIN(TestVisitsView)
#include "test_visitsview.moc"
