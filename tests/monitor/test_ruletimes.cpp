// A match rule's times and daily allowance in the window: the rule dialogs' controls against a
// real rule database, and the match list's column of today's use from a real engine's cycles.
#include "match/schedule.h"
#include "res/commandids.h"
#include "res/texts.h"
#include "store/flag.h"
#include "tests/support/manualclock.h"
#include "tests/support/modalanswer.h"
#include "tests/support/viewrig.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QSpinBox>
#include <QTest>
#include <unistd.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

class TestRuleTimes final : public QObject {
    Q_OBJECT
    std::unique_ptr<ViewRig> m;

    QString Stored() {
        return m->db.exec(u"SELECT group_concat(内容 || ' ' || ifnull(时间, '-'), '|') FROM "
                          "匹配规则"_s);
    }
    // Monday to Friday, no span, and the minutes typed into the field.
    static void Allowance(QWidget* modal, const QString& minutes) {
        Child<QGroupBox>(modal, "schedule")->setChecked(true);
        for (int day = 1; day <= 7; ++day)
            Child<QCheckBox>(modal, qPrintable(u"day%1"_s.arg(day)))->setChecked(day <= 5);
        Child<QCheckBox>(modal, "first")->setChecked(false);
        Child<QCheckBox>(modal, "second")->setChecked(false);
        Child<QCheckBox>(modal, "limit")->setChecked(true);
        Child<QSpinBox>(modal, "minutes")->selectAll();
        QTest::keyClicks(Child<QSpinBox>(modal, "minutes"), minutes);
        // OK once this step is over: a box it opens runs a loop of its own.
        QMetaObject::invokeMethod(Child<QAbstractButton>(modal, "ok"), &QAbstractButton::click,
                                  Qt::QueuedConnection);
    }
    static ModalAnswer::Step AddWith(const char* kind, const QString& minutes) {
        return [=](QWidget* modal) {
            Child<QAbstractButton>(modal, kind)->click();
            Child<QLineEdit>(modal, "ruleName")->setText(u"youtube.com"_s);
            Allowance(modal, minutes);
        };
    }

private Q_SLOTS:
    void init() { m = std::make_unique<ViewRig>(); }
    void cleanup() { m.reset(); }

    // An allowance outside 1..1440 minutes, and one on a 标题包含 rule, are refused with the
    // reason the one check of times gives, the dialog stays open and nothing is stored.
    void badAllowanceRefused() {
        for (const auto& [kind, minutes] :
             {std::pair{"kindSite", u"0"_s}, {"kindSite", u"1441"_s}, {"kindWords", u"60"_s}}) {
            QString why = text::kAllowanceOnWords; // where the times themselves are good
            ParseSchedule(u"周一 %1 分钟"_s.arg(minutes), &why);
            QString box;
            ModalAnswer answer({AddWith(kind, minutes),
                                [&box](QWidget* modal) {
                                    box = modal->property("text").toString();
                                    qobject_cast<QDialog*>(modal)->accept();
                                },
                                [](QWidget* modal) {
                                    Child<QAbstractButton>(modal, "cancel")->click();
                                }});
            m->view.OnCmdMsg(cmd::kAddRule);
            QCOMPARE(answer.answered(), 3);
            QCOMPARE(box, u"时间设置无效："_s + why);
        }
        QCOMPARE(Stored(), QString());
    }

    // "周一至周五 90 分钟" from the add dialog's controls, back into the flag dialog's and out
    // unchanged, then with the minutes changed.
    void allowanceRoundTrip() {
        ModalAnswer add({AddWith("kindSite", u"90"_s)});
        m->view.OnCmdMsg(cmd::kAddRule);
        QCOMPARE(Stored(), u"youtube.com 周一至周五 90 分钟"_s);
        // Added again, the rule's times change only once the user has seen both.
        QString asked;
        ModalAnswer again({AddWith("kindSite", u"60"_s), [&asked](QWidget* modal) {
                               asked = modal->property("text").toString().section(u"\n\n"_s, 2);
                               qobject_cast<QDialog*>(modal)->reject();
                           }});
        m->view.OnCmdMsg(cmd::kAddRule);
        QCOMPARE(asked, u"它的时间也将由“周一至周五 90 分钟”改为“周一至周五 60 分钟”。"_s);
        QCOMPARE(Stored(), u"youtube.com 周一至周五 90 分钟"_s);

        // The flag dialog shows the rule's times as they are: OK leaves them, a third span
        // included, and a change goes.
        const QString spans = u"周一至周五 06:00-07:00 12:00-13:00 20:00-21:00 90 分钟"_s;
        m->engine.SetMatchRuleTimes(m->engine.FindMatchRule(kKindSite, u"youtube.com"_s)->id,
                                    spans);
        m->view.OnCmdMsg(cmd::kShowMatchRules);
        m->view.ListControl()->selectRow(0);
        for (const auto& [typed, times] :
             {std::pair{QString(), spans}, {u"45"_s, u"周一至周五 45 分钟"_s}}) {
            const QString minutes = typed; // a structured binding, which a lambda may not name
            int opened = 0;
            ModalAnswer edit({[&minutes, &opened](QWidget* modal) {
                opened = Child<QSpinBox>(modal, "minutes")->value();
                if (minutes.isNull())
                    Child<QAbstractButton>(modal, "ok")->click();
                else
                    Allowance(modal, minutes);
            }});
            QTest::keyClick(m->view.ListControl(), Qt::Key_Return);
            QCOMPARE(opened, 90);
            QCOMPARE(Stored(), u"youtube.com "_s + times);
            QCOMPARE(m->Cell(0, 3), times);
        }
    }

    // The column of today's use: the viewer's own use as "已用 m/n 分钟", several people in
    // the order of their names (not of their numbers), each rule with its own use, an unused
    // allowance as 0, a rule without one blank; and the column follows the monitor when the
    // list refreshes; the list's widths are remembered.
    void useColumn() {
        QSettings().remove(u"Columns"_s); // widths an earlier run left
        const auto clock = std::make_shared<ManualClock>(QDateTime(QDate(2026, 3, 2), QTime(9, 0)));
        m->engine.SetClock(clock);
        for (const QString& times :
             {u"每天 60 分钟"_s, u"每天 30 分钟"_s, u"每天 20 分钟"_s, u"每天 21:00-07:00"_s}) {
            m->engine.AddMatchRule(kKindSite,
                                   u"site%1.example"_s.arg(m->engine.ListMatchRules().size() + 1),
                                   kFlagBlock);
            m->engine.SetMatchRuleTimes(m->engine.ListMatchRules().back().id, times);
        }
        // The viewer in front of the first site, two others of the second.
        std::vector<BrowserWindow> tabs;
        for (const auto& [site, uid] :
             {std::pair{1, qint64(::getuid())}, {2, qint64(10000)}, {2, qint64(9999)}}) {
            const QString url = u"https://site%1.example/"_s.arg(site);
            tabs.push_back({BrowserWindow::Kind::HtmlDocument,
                            url,
                            url,
                            {-1, u"fake"_s, QString::number(uid)},
                            u"chromium"_s,
                            uid});
            tabs.back().inFront = true;
        }
        m->source->SetWindows(tabs);
        const auto column = [this, &clock](int minutes) {
            for (int minute = 0; minute < minutes; ++minute) {
                m->Tick();
                clock->Advance(60'000);
            }
            m->view.OnCmdMsg(cmd::kShowMatchRules);
            QStringList cells;
            for (int row = 0; row < m->view.ListControl()->rowCount(); ++row)
                cells << m->Cell(row, 4);
            return cells;
        };
        QCOMPARE(column(4), QStringList({u"已用 3/60 分钟"_s, u"已用 10000 3/30，9999 3/30 分钟"_s,
                                         u"已用 0/20 分钟"_s, QString()}));
        QCOMPARE(column(2).first(2),
                 QStringList({u"已用 5/60 分钟"_s, u"已用 10000 5/30，9999 5/30 分钟"_s}));
        // The widths given to the columns stay for the next list.
        m->view.ListControl()->setColumnWidth(3, 111);
        CWinwardenView again(m->engine);
        again.OnCmdMsg(cmd::kShowMatchRules);
        QCOMPARE(again.ListControl()->columnWidth(3), 111);
    }
};

QTEST_MAIN(TestRuleTimes)
#include "test_ruletimes.moc"
