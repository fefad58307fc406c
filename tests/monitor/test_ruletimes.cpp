// A match rule's times and daily allowance in the window: the rule dialogs' controls against a
// real rule database, and the match list's column of today's use from a monitor whose uses the
// test chooses.
#include "match/schedule.h"
#include "res/commandids.h"
#include "res/texts.h"
#include "store/flag.h"
#include "tests/support/modalanswer.h"
#include "tests/support/viewrig.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QTest>
#include <unistd.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

// The engine, with today's uses of the allowances as the test sets them.
class UsesMonitor final : public Monitor {
public:
    explicit UsesMonitor(Monitor& engine) : m_engine(engine) {}
    std::vector<AllowanceUse> uses;

    void Start() override { m_engine.Start(); }
    void Stop() override { m_engine.Stop(); }
    bool IsMonitoring() const override { return m_engine.IsMonitoring(); }
    const MonitorStatus& Status() const override { return m_engine.Status(); }
    void OnTimer() override { m_engine.OnTimer(); }
    std::vector<Rule> ListByFlag(const QString& flag) override { return m_engine.ListByFlag(flag); }
    std::optional<Rule> FindByName(const QString& name) override {
        return m_engine.FindByName(name);
    }
    int SetFlagForWindow(const QString& flag, const QString& name, const QString& url) override {
        return m_engine.SetFlagForWindow(flag, name, url);
    }
    int DeleteRule(const QString& name, const QString& url) override {
        return m_engine.DeleteRule(name, url);
    }
    bool AddRule(const QString& name, const QString& url, const QString& flag) override {
        return m_engine.AddRule(name, url, flag);
    }
    std::vector<MatchRuleRow> ListMatchRules() override { return m_engine.ListMatchRules(); }
    bool HasMatchTable() override { return m_engine.HasMatchTable(); }
    void AddMatchTable() override { m_engine.AddMatchTable(); }
    std::optional<MatchRuleRow> FindMatchRule(const QString& kind, const QString& text) override {
        return m_engine.FindMatchRule(kind, text);
    }
    bool AddMatchRule(const QString& kind, const QString& text, const QString& flag) override {
        return m_engine.AddMatchRule(kind, text, flag);
    }
    int SetMatchRuleFlag(qint64 id, const QString& flag) override {
        return m_engine.SetMatchRuleFlag(id, flag);
    }
    int SetMatchRuleTimes(qint64 id, const QString& times) override {
        return m_engine.SetMatchRuleTimes(id, times);
    }
    int DeleteMatchRule(qint64 id) override { return m_engine.DeleteMatchRule(id); }
    std::vector<VisitRow> ListVisits(const VisitQuery& query) override {
        return m_engine.ListVisits(query);
    }
    std::vector<AllowanceUse> AllowanceUses() override { return uses; }

private:
    Monitor& m_engine;
};

} // namespace

class TestRuleTimes final : public QObject {
    Q_OBJECT
    std::unique_ptr<ViewRig> m;
    QString m_box; // the text of the last box a step answered

    QString Stored() {
        return m->db.exec(u"SELECT group_concat(内容 || ' ' || ifnull(时间, '-'), '|') FROM "
                          "匹配规则"_s);
    }
    qint64 AddSite(const QString& host, const QString& times) {
        m->engine.AddMatchRule(kKindSite, host, kFlagBlock);
        const qint64 id = m->engine.FindMatchRule(kKindSite, host)->id;
        m->engine.SetMatchRuleTimes(id, times);
        return id;
    }
    // Weekdays as "12345", no span, and the minutes typed into the field.
    static void Allowance(QWidget* modal, const QString& days, const QString& minutes) {
        Child<QGroupBox>(modal, "schedule")->setChecked(true);
        for (int day = 1; day <= 7; ++day)
            Child<QCheckBox>(modal, qPrintable(u"day%1"_s.arg(day)))
                ->setChecked(days.contains(QString::number(day)));
        Child<QCheckBox>(modal, "first")->setChecked(false);
        Child<QCheckBox>(modal, "second")->setChecked(false);
        Child<QCheckBox>(modal, "limit")->setChecked(true);
        auto* field = Child<QSpinBox>(modal, "minutes");
        field->selectAll();
        QTest::keyClicks(field, minutes);
    }
    // OK on the dialog once this step is over: a box it opens runs a loop of its own.
    static void OkLater(QWidget* modal) {
        QMetaObject::invokeMethod(Child<QAbstractButton>(modal, "ok"), &QAbstractButton::click,
                                  Qt::QueuedConnection);
    }
    ModalAnswer::Step AnswerBox() {
        return [this](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            m_box = box ? box->text() : QString();
            if (box)
                box->accept();
        };
    }
    static ModalAnswer::Step Cancel() {
        return [](QWidget* modal) {
            Child<QAbstractButton>(modal, "cancel")->click();
        };
    }
    // The add-rule dialog with a rule of `kind` for `text` and the allowance.
    static ModalAnswer::Step AddWith(const char* kind, const QString& text, const QString& days,
                                     const QString& minutes) {
        return [=](QWidget* modal) {
            Child<QAbstractButton>(modal, kind)->click();
            Child<QLineEdit>(modal, "ruleName")->setText(text);
            Allowance(modal, days, minutes);
            OkLater(modal);
        };
    }

private Q_SLOTS:
    void init() { m = std::make_unique<ViewRig>(); }
    void cleanup() { m.reset(); }

    // An allowance outside 1..1440 minutes, and one on a 标题包含 rule, are refused with the
    // reason the one check of times gives, the dialog stays open and nothing is stored.
    void badAllowanceRefused() {
        QString why;
        for (const QString& minutes : {u"0"_s, u"1441"_s}) {
            QVERIFY(!ParseSchedule(u"周一 %1 分钟"_s.arg(minutes), &why));
            ModalAnswer answer(
                {AddWith("kindSite", u"youtube.com"_s, u"1"_s, minutes), AnswerBox(), Cancel()});
            m->view.OnCmdMsg(cmd::kAddRule);
            QCOMPARE(answer.answered(), 3);
            QCOMPARE(m_box, u"时间设置无效："_s + why);
        }
        ModalAnswer answer(
            {AddWith("kindWords", u"game"_s, u"12345"_s, u"60"_s), AnswerBox(), Cancel()});
        m->view.OnCmdMsg(cmd::kAddRule);
        QCOMPARE(answer.answered(), 3);
        QCOMPARE(m_box, u"时间设置无效："_s + text::kAllowanceOnWords);
        QCOMPARE(Stored(), QString());
    }

    // "周一至周五 60 分钟" from the add dialog's controls, back into the flag dialog's, and out
    // again with the minutes changed.
    void allowanceRoundTrip() {
        ModalAnswer add({AddWith("kindSite", u"youtube.com"_s, u"12345"_s, u"60"_s)});
        m->view.OnCmdMsg(cmd::kAddRule);
        QCOMPARE(Stored(), u"youtube.com 周一至周五 60 分钟"_s);

        m->view.OnCmdMsg(cmd::kShowMatchRules);
        m->view.ListControl()->selectRow(0);
        QString shown;
        ModalAnswer edit({[&shown](QWidget* modal) {
            QString days;
            for (int day = 1; day <= 7; ++day)
                if (Child<QCheckBox>(modal, qPrintable(u"day%1"_s.arg(day)))->isChecked())
                    days += QString::number(day);
            const bool limit = Child<QCheckBox>(modal, "limit")->isChecked();
            shown = days + u' ' +
                    (limit ? QString::number(Child<QSpinBox>(modal, "minutes")->value()) : u"-"_s) +
                    (Child<QCheckBox>(modal, "first")->isChecked() ? u" span"_s : u""_s);
            Allowance(modal, days, u"45"_s);
            OkLater(modal);
        }});
        QTest::keyClick(m->view.ListControl(), Qt::Key_Return);
        QCOMPARE(shown, u"12345 60"_s);
        QCOMPARE(Stored(), u"youtube.com 周一至周五 45 分钟"_s);
        QCOMPARE(m->Cell(0, 3), u"周一至周五 45 分钟"_s);
    }

    // The column of today's use: the viewer's own use as "已用 m/n 分钟", several people by name,
    // each rule with its own use, an unused allowance as 0, a rule without one blank; and the
    // column follows the monitor when the list refreshes.
    void useColumn() {
        const qint64 own = AddSite(u"youtube.com"_s, u"每天 60 分钟"_s);
        const qint64 games = AddSite(u"games.example"_s, u"周六日 30 分钟"_s);
        AddSite(u"news.example"_s, u"每天 20 分钟"_s);
        AddSite(u"ads.example"_s, u"每天 21:00-07:00"_s);
        UsesMonitor monitor(m->engine);
        const qint64 me = ::getuid();
        monitor.uses = {{games, me + 2, u"bob"_s, 25, 30},
                        {own, me, u"me"_s, 42, 60},
                        {games, me + 1, u"alice"_s, 10, 30}};
        CWinwardenView view(monitor);
        view.OnCmdMsg(cmd::kShowMatchRules);
        QCOMPARE(view.ListControl()->columnCount(), 5);
        QStringList column;
        for (int row = 0; row < 4; ++row)
            column << view.CellText(row, 4);
        QCOMPARE(column, QStringList({u"已用 42/60 分钟"_s, u"已用 alice 10/30，bob 25/30 分钟"_s,
                                      u"已用 0/20 分钟"_s, QString()}));

        monitor.uses = {{own, me + 1, u"alice"_s, 50, 60}};
        view.OnCmdMsg(cmd::kShowMatchRules);
        QCOMPARE(view.CellText(0, 4), u"已用 alice 50/60 分钟"_s);
        QCOMPARE(view.CellText(1, 4), u"已用 0/30 分钟"_s);
    }
};

QTEST_MAIN(TestRuleTimes)
#include "test_ruletimes.moc"
