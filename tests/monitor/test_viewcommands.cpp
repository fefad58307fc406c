// The live list as the monitor fills it and the list commands, against a real rule database
// and a fake browser, with monitor ticks arriving while the flag dialog or a box is open; and
// the flag dialog on its own, answered from inside its own loop.
#include "monitor/windowflagdlg.h"
#include "res/commandids.h"
#include "res/texts.h"
#include "tests/support/modalanswer.h"
#include "tests/support/viewrig.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimeEdit>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

class TestViewCommands final : public QObject {
    Q_OBJECT
    std::unique_ptr<ViewRig> m;
    QString m_seen;             // a box's "caption|icon|sorted buttons|text", the dialog's fields
    QList<int> m_openMeanwhile; // pages that open, followed by a tick, while the next modal is up
    int m_rowsMeanwhile = 0;    // rows listed after that tick
    QString m_taken;            // the host the add-rule dialog said it takes
    QList<QUrl> m_opened;       // addresses the flag dialog had the desktop open
    const QStringList kOk{u"确定"_s}, kCancel{u"取消"_s};

    // "%2" in every title: texts put together with arg() must leave it alone.
    static QString Title(int n) { return u"页面%1 %2"_s.arg(n); }
    static QString Url(int n) { return u"https://page%1.test/"_s.arg(n); }
    // A page as the live list shows it: as its browser captions its window.
    static QString Live(QString t, QString flag, QString url) {
        return t + u" - Chromium|"_s + flag + u'|' + url;
    }
    static QString LiveRow(int n, const QString& flag = u"通过"_s) {
        return Live(Title(n), flag, Url(n));
    }
    // A rule as a rule list shows it: by the title it holds.
    static QString Row(int n, const QString& flag = u"通过"_s) {
        return Title(n) + u'|' + flag + u'|' + Url(n);
    }
    static QString ConfirmBox(int n, const QString& caption = {}) {
        return u"系统提示|4|取消/确定|窗口名："_s + (caption.isNull() ? Title(n) : caption) +
               u"     \n网　址："_s + Url(n) + u"     \n\n是否真的要删除 ？"_s;
    }
    // Notes what the modal shows, lets the meanwhile pages open and tick, clicks these buttons.
    ModalAnswer::Step Click(const QStringList& texts) {
        return [this, texts](QWidget* modal) {
            QStringList seen;
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                for (QAbstractButton* button : box->buttons())
                    seen << button->text();
                seen.sort();
                seen = {box->windowTitle(), QString::number(box->icon()), seen.join(u'/'),
                        box->text()};
            } else {
                for (const char* field : {"windowName", "flag", "url"})
                    seen << Child<QLineEdit>(modal, field)->text();
            }
            m_seen = seen.join(u'|');
            if (!m_openMeanwhile.isEmpty()) {
                Open(std::exchange(m_openMeanwhile, {}));
                m->Tick();
                m_rowsMeanwhile = List()->rowCount();
            }
            for (const QString& text : texts)
                for (QAbstractButton* button : modal->findChildren<QAbstractButton*>())
                    if (button->text() == text)
                        button->click();
        };
    }
    // Fills the add-rule dialog (a kind, the text, the address, a flag), notes the host it says
    // it takes, and presses OK.
    ModalAnswer::Step Fill(const char* kind, const QString& text, const QString& url,
                           const char* flag) {
        return [=, this](QWidget* dialog) {
            Child<QAbstractButton>(dialog, kind)->click();
            Child<QLineEdit>(dialog, "ruleName")->setText(text);
            Child<QLineEdit>(dialog, "ruleUrl")->setText(url);
            Child<QAbstractButton>(dialog, flag)->click();
            m_taken = Child<QLabel>(dialog, "hostTaken")->text();
            Child<QAbstractButton>(dialog, "ok")->click();
        };
    }
    // Runs `command` on the view with `steps` answering its modals; how many were answered.
    template <typename Command> int Run(Command command, QList<ModalAnswer::Step> steps) {
        ModalAnswer answer(std::move(steps));
        std::invoke(command, m->view);
        return answer.answered();
    }

    QTableWidget* List() const { return m->view.ListControl(); }
    QString Flags() { return m->db.exec(u"SELECT group_concat(是否禁止, ' ') FROM 窗口名表"_s); }
    void Open(const QList<int>& pages) {
        QStringList titlesAndUrls;
        for (int n : pages)
            titlesAndUrls << Title(n) << Url(n);
        m->source->SetPages(titlesAndUrls);
    }

    // The dialog over `flag` and `url`, given these actions in turn: "?" notes the checked radio
    // and whether "打开窗口" is enabled, a child's name clicks it, anything else is a key for the
    // focus. What it noted and any link box, then exec()'s result, the flag and what was opened.
    QString Answer(const QString& flag, const QString& url, const QString& actions) {
        CWindowFlagDlg dialog;
        dialog.m_strWindowName = u"新闻 %2"_s, dialog.m_strUrl = url, dialog.m_strFlag = flag;
        QStringList got;
        ModalAnswer answer({[&](QWidget* modal) {
            for (const QString& action : actions.split(u' ')) {
                if (action == u"?")
                    got << (Child<QRadioButton>(modal, "radioPass")->isChecked() ? u"Pass"_s
                                                                                 : u"Block"_s) +
                               (Child<QPushButton>(modal, "openWindow")->isEnabled() ? u"+"_s
                                                                                     : u"-"_s);
                else if (auto* named = modal->findChild<QWidget*>(action))
                    QTest::mouseClick(modal->windowHandle(), Qt::LeftButton, {},
                                      named->mapTo(modal, named->rect().center()));
                else
                    QTest::keySequence(modal->focusWidget(), QKeySequence(action));
            }
        }});
        QTimer boxWatch; // the link box opens inside the dialog's step, in a loop of its own
        connect(&boxWatch, &QTimer::timeout, [&got] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                got << u"box:"_s + box->text().section(u'\n', 1);
                box->accept();
            }
        });
        boxWatch.start(5);
        got << QString::number(dialog.exec()) << dialog.m_strFlag;
        for (const QUrl& opened : std::exchange(m_opened, {}))
            got << (opened == QUrl(url) ? u"opened"_s : opened.toString());
        return got.join(u' ');
    }

public Q_SLOTS:
    void open(const QUrl& url) { m_opened.append(url); }

private Q_SLOTS:
    void init() { m = std::make_unique<ViewRig>(); }

    // Each window once, with its rule's flag as stored (a new page "通过"); the flag dialog opens
    // on it. Blocking from the list reaches the title's rule, stored with another address, and
    // the page goes at the next tick; a change that reaches no rule is refused.
    void liveRowsAndTheRulesBehindThem() {
        const QString moved = u"http://moved/?from="_s;
        m->db.insert(u"坏页"_s, u"禁止"_s, u"http://bad/"_s);
        m->db.insert(u"怪页"_s, u"待定"_s, u"http://odd/"_s);
        m->db.insert(u"搬家页"_s, u"通过"_s, moved + u"yesterday"_s);
        m->source->SetPages({u"新页"_s, u"http://new/"_s, u"坏页"_s, u"http://bad/"_s, u"怪页"_s,
                             u"http://odd/"_s, u"新页"_s, u"http://again/"_s, u"搬家页"_s,
                             moved + u"today"_s});
        m->view.OnStart();
        for (int tick = 0; tick < 2; ++tick) {
            m->Tick();
            QCOMPARE(m->Rows(), (QStringList{Live(u"新页"_s, u"通过"_s, u"http://new/"_s),
                                             Live(u"坏页"_s, u"禁止"_s, u"http://bad/"_s),
                                             Live(u"怪页"_s, u"待定"_s, u"http://odd/"_s),
                                             Live(u"搬家页"_s, u"通过"_s, moved + u"today"_s)}));
        }
        const auto flagOf = [this](const char* name) {
            return m->db.exec(u"SELECT 是否禁止 FROM 窗口名表 WHERE 窗口名称='%1'"_s.arg(
                QString::fromUtf8(name)));
        };
        List()->selectRow(1);
        Run(&CWinwardenView::OnListDblClk, {Click(kOk)});
        QCOMPARE(m_seen.section(u'|', 1, 1) + m->Cell(1, 1) + flagOf("坏页"), u"禁止禁止禁止"_s);
        List()->selectRow(3);
        Run(&CWinwardenView::OnListDblClk, {Click({u"禁止"_s, u"确定"_s})});
        QCOMPARE(m->Cell(3, 1) + flagOf("搬家页"), u"禁止禁止"_s);
        m->Tick();
        QCOMPARE(m->source->CloseRequestsFor(u"搬家页"_s), 1);
        m->db.exec(u"DELETE FROM 窗口名表"_s);
        Run(&CWinwardenView::OnListDblClk, {Click({u"通过"_s, u"确定"_s}), Click(kOk)});
        QCOMPARE(m_seen, u"系统提示|2|确定|修改窗口标记失败："_s + text::kNoRuleForWindow);
        QCOMPARE(m->Cell(3, 1), u"禁止"_s);
    }

    // A rule list, monitoring off: the lowest selected row is edited; a delete removes every
    // rule with the row's URL; a refusing store is reported.
    void ruleListCommandsWhileStopped() {
        m->db.insert(std::nullopt, u"通过"_s, Url(5)); // NULL: an empty cell
        m->db.insert(u""_s, u"通过"_s, std::nullopt);  // empty name: the caption suffix alone
        for (int n : {0, 1, 2})
            m->db.insert(Title(n), u"禁止"_s, Url(n));
        m->db.insert(u"别名"_s, u"通过"_s, Url(0));
        QVERIFY(m->view.OnCmdMsg(cmd::kShowBlocked) && !List()->isHidden());
        m->view.OnRefreshList(); // keeps a rule list while monitoring is off
        QCOMPARE(Run(&CWinwardenView::OnListDblClk, {Click(kOk)}), 0); // nothing selected
        for (int row : {2, 1})
            List()->setRangeSelected({row, 0, row, 2}, true);
        const auto doubleClick = [](CWinwardenView& view) {
            Q_EMIT view.ListControl()->cellDoubleClicked(2, 0);
        };
        Run(doubleClick, {Click({u"通过"_s, u"确定"_s})});
        QCOMPARE(m_seen, Row(1, u"禁止"_s));
        QCOMPARE(m->Rows(), (QStringList{Row(0, u"禁止"_s), Row(1), Row(2, u"禁止"_s)}));
        QCOMPARE(Flags(), u"通过 通过 禁止 通过 禁止 通过"_s);
        List()->selectRow(0);
        Run(&CWinwardenView::OnDeleteWindow, {Click(kCancel)});
        QCOMPARE(m_seen, ConfirmBox(0));
        QCOMPARE(Flags(), u"通过 通过 禁止 通过 禁止 通过"_s);
        Run([](CWinwardenView& view) { view.OnCmdMsg(cmd::kDeleteWindow); }, {Click(kOk)});
        QCOMPARE(Flags(), u"通过 通过 通过 禁止"_s);
        QCOMPARE(m->Rows(), QStringList{Row(2, u"禁止"_s)});
        m->db.exec(u"ALTER TABLE 窗口名表 RENAME TO 别处"_s);
        List()->selectRow(0);
        QCOMPARE(Run(&CWinwardenView::OnDeleteWindow, {Click(kOk), Click(kOk)}), 2);
        const QString failed = u"系统提示|2|确定|删除窗口规则失败："_s;
        QVERIFY2(m_seen.startsWith(failed) && m_seen.size() > failed.size(), qPrintable(m_seen));
        QCOMPARE(m->Rows(), QStringList{Row(2, u"禁止"_s)});
        m->db.exec(u"ALTER TABLE 别处 RENAME TO 窗口名表"_s);
        m->view.OnShowPassed();
        QCOMPARE(m->Rows(), (QStringList{u"|通过|"_s + Url(5), u"|通过|"_s, Row(1)}));
    }

    // Rules typed in the window: a title rule needs a name, a second rule of one meaning changes
    // the flag, bad match text is refused, a pasted address is taken as its host. The match list
    // edits and deletes; a live row a match rule decides says so, and "禁止这个网站" blocks its
    // site.
    void rulesFromTheWindow() {
        m->db.exec(u"DROP TABLE 匹配规则"_s);
        m->view.OnShowBlocked();
        QCOMPARE(Run(&CWinwardenView::OnAddRule,
                     {Fill("kindTitle", {}, Url(1), "radioBlock"), Click(kOk)}),
                 2);
        QCOMPARE(m_seen, u"系统提示|1|确定|请填写窗口名称（网页的标题）。"_s);
        Run(&CWinwardenView::OnAddRule, {Fill("kindTitle", Title(1), Url(1), "radioBlock")});
        QCOMPARE(m->Rows(), QStringList{Row(1, u"禁止"_s)});
        Run(&CWinwardenView::OnAddRule,
            {Fill("kindTitle", Title(1), Url(2), "radioPass"), Click(kOk)});
        QVERIFY(m_seen.contains(u"已有规则，标记为“禁止”"_s));
        QCOMPARE(m->db.rows(), (QList<RuleRow>{{Title(1), u"通过"_s, Url(1)}}));

        const auto matches = [this] {
            return m->db.exec(u"SELECT group_concat(种类 || ' ' || 内容 || ' ' || 是否禁止, '|') "
                              "FROM 匹配规则"_s);
        };
        QCOMPARE(Run(&CWinwardenView::OnAddRule,
                     {Fill("kindSite", u"game example"_s, {}, "radioBlock"), Click(kOk)}),
                 2);
        QCOMPARE(m_seen, u"系统提示|1|确定|"_s + text::kMatchNotAHost.arg(u"game example"_s));
        const QString pasted = u"https://www.Game.Example/x?y"_s;
        Run(&CWinwardenView::OnAddRule, {Fill("kindSite", pasted, {}, "radioBlock"), Click(kOk)});
        QCOMPARE(m_taken, u"将添加网站：www.game.example"_s);
        QCOMPARE(matches(), u"网站 www.game.example 禁止"_s);
        Run(&CWinwardenView::OnAddRule,
            {Fill("kindSite", u"WWW.GAME.EXAMPLE."_s, {}, "radioPass"), Click(kOk)});
        Run(&CWinwardenView::OnAddRule, {Fill("kindWords", u" 赌场 "_s, {}, "radioBlock")});
        Run(&CWinwardenView::OnAddRule, {Fill("kindWords", u"ads"_s, {}, "radioBlock")});
        QCOMPARE(matches(), u"网站 www.game.example 通过|标题包含 赌场 禁止|标题包含 ads 禁止"_s);

        m->view.OnCmdMsg(cmd::kShowMatchRules);
        QCOMPARE(m->Rows(), (QStringList{u"www.game.example|通过|网站"_s, u"赌场|禁止|标题包含"_s,
                                         u"ads|禁止|标题包含"_s}));
        List()->selectRow(0);
        Run([this](CWinwardenView&) { QTest::keyClick(List(), Qt::Key_Return); },
            {Click({u"禁止"_s, u"确定"_s})});
        QCOMPARE(m_seen, u"网站 www.game.example|通过|"_s);
        List()->selectRow(2);
        Run([this](CWinwardenView&) { QTest::keyClick(List(), Qt::Key_Delete); }, {Click(kOk)});
        QCOMPARE(m_seen, u"系统提示|4|取消/确定|窗口名：标题包含 ads     \n网　址："_s
                         u"     \n\n是否真的要删除 ？"_s);
        QCOMPARE(matches(), u"网站 www.game.example 禁止|标题包含 赌场 禁止"_s);
        QCOMPARE(m->Rows(),
                 (QStringList{u"www.game.example|禁止|网站"_s, u"赌场|禁止|标题包含"_s}));

        m->source->SetClosesWindows(false);
        m->source->SetPages(
            {u"Play"_s, u"https://www.game.example/p"_s, u"News"_s, u"https://news.example/a"_s});
        m->view.OnStart();
        m->Tick();
        QCOMPARE(m->Rows(), (QStringList{Live(u"Play"_s, u"禁止（网站 www.game.example）"_s,
                                              u"https://www.game.example/p"_s),
                                         Live(u"News"_s, u"通过"_s, u"https://news.example/a"_s)}));
        List()->selectRow(0);
        Run(&CWinwardenView::OnListDblClk, {Click(kOk)});
        QCOMPARE(m_seen.section(u'|', 1, 1) + u' ' + Flags(), u"通过 通过 通过 通过"_s);
        List()->selectRow(1);
        m->view.OnCmdMsg(cmd::kBlockSite);
        m->Tick();
        QCOMPARE(matches(),
                 u"网站 www.game.example 禁止|标题包含 赌场 禁止|网站 news.example 禁止"_s);
        QVERIFY(m->source->CloseRequestsFor(u"News"_s) > 0);
        QCOMPARE(m->Cell(1, 1), u"禁止（网站 news.example）"_s);
    }

    // A site or words rule limited to times from the add-rule dialog and from the match list's
    // flag dialog: times that are no schedule are refused with the reason and the dialog stays
    // open, nothing stored; the list shows each rule's times; unchecked, the rule holds always.
    void matchRuleTimesFromTheWindow() {
        // A box the dialog opens on OK runs its own loop: OK is pressed after this step.
        const auto later = [](QAbstractButton* button) {
            QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
        };
        // Days as "12345", then the spans' ends ("21:00 07:00", a second span after them).
        const auto times = [](const QString& days, const QStringList& ends) {
            return [=](QWidget* modal) {
                auto* group = Child<QGroupBox>(modal, "schedule");
                group->setChecked(!ends.isEmpty());
                for (int day = 1; day <= 7; ++day)
                    Child<QCheckBox>(modal, qPrintable(u"day%1"_s.arg(day)))
                        ->setChecked(days.contains(QString::number(day)));
                Child<QCheckBox>(modal, "second")->setChecked(ends.size() > 2);
                const char* fields[] = {"from1", "to1", "from2", "to2"};
                for (int i = 0; i < ends.size(); ++i)
                    Child<QTimeEdit>(modal, fields[i])
                        ->setTime(QTime::fromString(ends[i], u"HH:mm"_s));
            };
        };
        const auto fill = [times, later](const char* kind, const QString& text, const QString& days,
                                         const QStringList& ends) {
            return [=](QWidget* modal) {
                Child<QAbstractButton>(modal, kind)->click();
                Child<QLineEdit>(modal, "ruleName")->setText(text);
                times(days, ends)(modal);
                later(Child<QAbstractButton>(modal, "ok"));
            };
        };
        const auto stored = [this] {
            return m->db.exec(u"SELECT group_concat(内容 || ' ' || ifnull(时间, '-'), '|') FROM "
                              "匹配规则"_s);
        };
        QCOMPARE(Run(&CWinwardenView::OnAddRule,
                     {fill("kindSite", u"youtube.com"_s, {}, {u"21:00"_s, u"07:00"_s}), Click(kOk),
                      [](QWidget* modal) {
                          Child<QAbstractButton>(modal, "cancel")->click();
                      }}),
                 3);
        QVERIFY2(m_seen.contains(u"|时间设置无效："_s) && m_seen.contains(u"没有选择星期几"_s),
                 qPrintable(m_seen));
        QCOMPARE(stored(), QString());
        Run(&CWinwardenView::OnAddRule,
            {fill("kindSite", u"youtube.com"_s, u"12345"_s, {u"21:00"_s, u"07:00"_s})});
        Run(&CWinwardenView::OnAddRule, {fill("kindWords", u"game"_s, u"67"_s,
                                              {u"10:00"_s, u"12:00"_s, u"14:00"_s, u"00:00"_s})});
        Run(&CWinwardenView::OnAddRule, {fill("kindWords", u"ads"_s, {}, {})});
        QCOMPARE(stored(), u"youtube.com 周一至周五 21:00-07:00|game 周六日 10:00-12:00 "
                           "14:00-00:00|ads -"_s);

        m->view.OnCmdMsg(cmd::kShowMatchRules);
        QCOMPARE(m->Cell(1, 3), u"周六日 10:00-12:00 14:00-00:00"_s);
        // The flag dialog opens on the rule's times; a bad change is refused, then none.
        List()->selectRow(1);
        QTime second;
        Run([this](CWinwardenView&) { QTest::keyClick(List(), Qt::Key_Return); },
            {[&](QWidget* modal) {
                 second = Child<QTimeEdit>(modal, "from2")->time();
                 times(u"67"_s, {u"09:00"_s, u"09:00"_s})(modal);
                 later(Child<QAbstractButton>(modal, "ok"));
             },
             Click(kOk),
             [&](QWidget* modal) {
                 times({}, {})(modal);
                 later(Child<QAbstractButton>(modal, "ok"));
             }});
        QCOMPARE(second, QTime(14, 0));
        QCOMPARE(stored(), u"youtube.com 周一至周五 21:00-07:00|game -|ads -"_s);
        QCOMPARE(m->Cell(1, 3), QString());
    }

    // Ticks keep coming while the dialog and the confirmation are open; they append rows, and
    // the pending edit and delete still reach the rows they were opened for. The filter too.
    void monitoringWithModalsOpen() {
        m->source->SetClosesWindows(false); // blocked pages stay listed: the list only grows
        m->view.show();
        m->view.OnInitialUpdate();
        Open({1, 2});
        m->view.OnStart();
        m->Tick();
        List()->selectRow(1);
        m_openMeanwhile = {1, 2, 3};
        Run(&CWinwardenView::OnListDblClk, {Click({u"禁止"_s, u"确定"_s})});
        QCOMPARE(m_rowsMeanwhile, 3);
        QCOMPARE(m->Rows(), (QStringList{LiveRow(1), LiveRow(2, u"禁止"_s), LiveRow(3)}));
        QCOMPARE(Flags(), u"通过 禁止 通过"_s);
        // Deleting leaves the rule list of the filter ("通过"); ticks add the windows it lacks.
        List()->selectRow(0);
        m_openMeanwhile = {1, 2, 3, 4};
        Run(&CWinwardenView::OnDeleteWindow, {Click(kOk)});
        QCOMPARE(m_rowsMeanwhile, 4);
        QCOMPARE(m_seen, ConfirmBox(1, Title(1) + u" - Chromium"_s));
        QCOMPARE(m->Rows(), (QStringList{Row(3), Row(4)}));
        m->Tick();
        QCOMPARE(m->Rows(), (QStringList{Row(3), Row(4), LiveRow(1), LiveRow(2, u"禁止"_s)}));
        // The filter shows the rows whose caption or address holds the text, rows the monitor
        // appends included.
        m->view.OnFind();
        QTest::keyClicks(m->view.FilterEdit(), u"PAGE1"_s);
        QCOMPARE(Column(List(), 2, true), QStringList{Url(1)});
        Open({1, 2, 3, 4, 5, 10});
        m->Tick();
        QCOMPARE(Column(List(), 2, true), (QStringList{Url(1), Url(10)}));
    }

    // Only the exact "通过" checks 通过. Enter presses the focused button (cancel at first);
    // "打开窗口" ends like OK and opens only web addresses (one the desktop
    // cannot open shown in a box: app.test_mainframe).
    void dialogAnswers() {
        QDesktopServices::setUrlHandler(u"https"_s, this, "open");
        const QString pass = u"通过"_s, block = u"禁止"_s, web = u"https://a.org/?id=1&x=%2"_s;
        QCOMPARE(Answer(u"通过 "_s, web, u"? ok"_s), u"Block- 1 通过 "_s);
        QCOMPARE(Answer({}, web, u"? radioBlock ? radioPass ? ok"_s),
                 u"Block- Block- Pass+ 1 通过"_s);
        QCOMPARE(Answer(pass, web, u"Return"_s), u"2 通过"_s);
        QCOMPARE(Answer(block, web, u"radioPass openWindow"_s), u"1 通过 opened"_s);
        QCOMPARE(Answer(pass, u"file:/a"_s, u"openWindow"_s), u"box:file:/a 1 通过"_s);
    }
};

QTEST_MAIN(TestViewCommands)
#include "test_viewcommands.moc"
