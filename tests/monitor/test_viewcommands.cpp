// The list commands against a real rule database, with monitor ticks arriving while the flag
// dialog or a box is open.
#include "monitor/winwardenview.h"
#include "res/commandids.h"
#include "res/texts.h"
#include "survey/browsersnapshot.h"
#include "tests/support/fakes.h"
#include "tests/support/modalanswer.h"
#include "tests/support/testdb.h"

#include <QAbstractEventDispatcher>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

struct Rig {
    TempRuleDb db;
    BrowserSnapshot snapshot;
    FakeShellWindows shell;
    FakeTopLevelWindows windows;
    MonitorServices services{&shell, &windows, &snapshot, db.path()};
    CWinwardenView view{nullptr, services};
};

class TestViewCommands final : public QObject {
    Q_OBJECT
    std::unique_ptr<Rig> m;
    QString m_seen;             // the last box, as Box() writes it
    QStringList m_shown;        // the flag dialog's fields, as it last opened
    QList<int> m_openMeanwhile; // pages that open, followed by a tick, while the next modal is up
    int m_rowsMeanwhile = 0;    // rows listed after that tick

    static QString Url(int n) { return u"https://page%1.test/"_s.arg(n); }
    static QString Title(int n) { return u"页面%1"_s.arg(n); }
    static QString Row(const QString& title, const QString& flag, const QString& url) {
        return title + text::kCaptionSuffix + u'|' + flag + u'|' + url;
    }
    static QString Row(int n, const QString& f = u"通过"_s) { return Row(Title(n), f, Url(n)); }
    // A box as "name|caption|icon|sorted button texts|text".
    static QString Box(const QString& name, QMessageBox::Icon icon, const QString& text,
                       const QString& buttons = u"确定"_s) {
        return QStringList{name, u"系统提示"_s, QString::number(icon), buttons, text}.join(u'|');
    }
    static QString ConfirmBox(const QString& title, const QString& url) {
        return Box(u"confirmDeleteBox"_s, QMessageBox::Question,
                   u"窗口名："_s + title + text::kCaptionSuffix + u"     \n网　址："_s + url +
                       u"     \n\n是否真的要删除 ？"_s,
                   u"取消/确定"_s);
    }
    void Meanwhile() {
        if (m_openMeanwhile.isEmpty())
            return;
        Open(std::exchange(m_openMeanwhile, {}));
        Tick();
        m_rowsMeanwhile = List()->rowCount();
    }
    ModalAnswer::Step Press(QMessageBox::StandardButton button) {
        return [this, button](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box);
            QStringList buttons;
            for (QAbstractButton* each : box->buttons())
                buttons << each->text();
            buttons.sort();
            m_seen = QStringList{box->objectName(), box->windowTitle(),
                                 QString::number(box->icon()), buttons.join(u'/'), box->text()}
                         .join(u'|');
            Meanwhile();
            box->button(button)->click();
        };
    }
    ModalAnswer::Step Dialog(const char* radio, const char* button) {
        return [this, radio, button](QWidget* modal) {
            m_shown.clear();
            for (const char* field : {"windowName", "flag", "url"})
                m_shown << Child<QLineEdit>(modal, field)->text();
            Meanwhile();
            if (radio)
                Child<QRadioButton>(modal, radio)->click();
            Child<QPushButton>(modal, button)->click();
        };
    }
    // Runs `command` on the view with `steps` answering its modals; how many were answered.
    template <typename Command> int Run(Command command, QList<ModalAnswer::Step> steps) {
        ModalAnswer answer(std::move(steps));
        std::invoke(command, m->view);
        return answer.answered();
    }

    QTableWidget* List() const { return m->view.ListControl(); }
    QString Cell(int r, int c) const { return List()->model()->index(r, c).data().toString(); }
    // The list as "caption|flag|url" lines; a missing cell reads as empty.
    QStringList Rows() const {
        QStringList rows;
        for (int r = 0; r < List()->rowCount(); ++r)
            rows << u"%1|%2|%3"_s.arg(Cell(r, 0), Cell(r, 1), Cell(r, 2));
        return rows;
    }
    QStringList Flags() const {
        QStringList flags;
        for (const RuleRow& rule : m->db.rows())
            flags << rule.flag.value_or(u"NULL"_s);
        return flags;
    }
    void Tick() { m->view.OnTimer(CWinwardenView::kMonitorTimerId); }
    void Open(const QList<int>& pages) {
        QStringList titlesAndUrls;
        for (int n : pages)
            titlesAndUrls << Title(n) << Url(n);
        m->shell.SetPages(titlesAndUrls);
    }

private Q_SLOTS:
    void init() {
        m = std::make_unique<Rig>();
        m->view.resize(800, 500);
        m->view.OnInitialUpdate();
    }
    void cleanup() { m.reset(); }

    // A NULL field leaves its cell empty; an empty window name still gets the caption suffix.
    void ruleListsShowTheStoredRules() {
        const QString odd = u"O'Brien 100% \"首页\""_s;
        m->db.insert(odd, u"通过"_s, Url(0));
        m->db.insert(std::nullopt, u"通过"_s, Url(1));
        m->db.insert(u""_s, u"通过"_s, Url(2));
        m->db.insert(u"乙"_s, u"禁止"_s, Url(3));
        m->db.insert(u"丙"_s, u"通过"_s, std::nullopt);
        QVERIFY(m->view.OnCmdMsg(cmd::kShowPassed) && !List()->isHidden());
        QCOMPARE(Rows(), (QStringList{Row(odd, u"通过"_s, Url(0)), u"|通过|"_s + Url(1),
                                      Row({}, u"通过"_s, Url(2)), Row(u"丙"_s, u"通过"_s, {})}));
        QVERIFY(m->view.OnCmdMsg(cmd::kShowBlocked));
        QCOMPARE(Rows(), QStringList{Row(u"乙"_s, u"禁止"_s, Url(3))});
        m->view.LoadRuleList(u"无此标记"_s);
        QCOMPARE(QSize(List()->columnCount(), List()->rowCount()), QSize(3, 0));
        QCOMPARE(m->view.Store().CurrentFilter(), u"禁止"_s);
    }

    // The lowest selected row is edited, whichever was double-clicked; a "禁止" row set to
    // "通过" stays in the "禁止" list; cancel changes nothing; OK without a change still writes.
    void flagEditActsOnTheFirstSelectedRow() {
        for (int n : {0, 1, 2})
            m->db.insert(Title(n), u"禁止"_s, Url(n));
        m->view.OnShowBlocked();
        for (int row : {2, 1})
            List()->setRangeSelected({row, 0, row, 2}, true);
        const auto doubleClick = [](CWinwardenView& view) {
            Q_EMIT view.ListControl()->cellDoubleClicked(2, 0);
        };
        QCOMPARE(Run(doubleClick, {Dialog("radioPass", "ok")}), 1);
        QCOMPARE(m_shown, (QStringList{Title(1) + text::kCaptionSuffix, u"禁止"_s, Url(1)}));
        QCOMPARE(Rows(), (QStringList{Row(0, u"禁止"_s), Row(1), Row(2, u"禁止"_s)}));
        QCOMPARE(Flags(), (QStringList{u"禁止"_s, u"通过"_s, u"禁止"_s}));
        QCOMPARE(Run(doubleClick, {Dialog("radioBlock", "cancel")}), 1);
        QCOMPARE(Rows()[1] + Flags()[1], Row(1) + u"通过"_s);
        m->db.exec(u"UPDATE 窗口名表 SET 是否禁止 = '禁止'"_s);
        QCOMPARE(Run(doubleClick, {Dialog(nullptr, "ok")}), 1);
        QCOMPARE(Flags(), (QStringList{u"禁止"_s, u"通过"_s, u"禁止"_s}));
        List()->clearSelection();
        QCOMPARE(Run(&CWinwardenView::OnListDblClk, {Dialog(nullptr, "ok")}), 0);
    }

    // A confirmed delete removes every rule with the row's URL and reloads the current filter;
    // cancel and a missing selection change nothing.
    void deleteRemovesEveryRuleOfTheUrl() {
        const QString name = u"五折 %2 特卖"_s;
        m->db.insert(name, u"禁止"_s, Url(1));
        m->db.insert(u"别名"_s, u"通过"_s, Url(1));
        m->db.insert(u"留下"_s, u"禁止"_s, Url(2));
        m->view.OnShowBlocked();
        const QList<RuleRow> stored = m->db.rows();
        Run(&CWinwardenView::OnDeleteWindow, {Press(QMessageBox::Ok)});
        QCOMPARE(m_seen,
                 Box(u"selectWindowBox"_s, QMessageBox::Information, u"请选择一个窗口 ！  "_s));
        List()->selectRow(0);
        Run(&CWinwardenView::OnDeleteWindow, {Press(QMessageBox::Cancel)});
        QCOMPARE(m_seen, ConfirmBox(name, Url(1)));
        QCOMPARE(m->db.rows(), stored);
        QCOMPARE(List()->rowCount(), 2);
        Run([](CWinwardenView& view) { view.OnCmdMsg(cmd::kDeleteWindow); },
            {Press(QMessageBox::Ok)});
        QCOMPARE(m->db.rows(), (QList<RuleRow>{{{}, u"留下"_s, u"禁止"_s, Url(2)}}));
        QCOMPARE(Rows(), QStringList{Row(u"留下"_s, u"禁止"_s, Url(2))});
    }

    // Ticks keep coming while the dialog and the confirmation are open; they append rows, and
    // the pending edit and delete still reach the rows they were opened for.
    void ticksWhileModalsAreOpen() {
        Open({1, 2});
        m->view.OnStart();
        Tick();
        List()->selectRow(1);
        m_openMeanwhile = {1, 2, 3};
        Run(&CWinwardenView::OnListDblClk, {Dialog("radioBlock", "ok")});
        QCOMPARE(m_rowsMeanwhile, 3);
        QCOMPARE(Rows(), (QStringList{Row(1), Row(2, u"禁止"_s), Row(3)}));
        m->windows.captions = {Title(2) + text::kCaptionSuffix};
        Tick();
        QCOMPARE(m->windows.closeRequests.size(), 1);
        // Deleting from the live list leaves the rule list of the current filter ("通过"),
        // below which the next tick lists the open windows again.
        List()->selectRow(0);
        m_openMeanwhile = {1, 2, 3, 4};
        Run(&CWinwardenView::OnDeleteWindow, {Press(QMessageBox::Ok)});
        QCOMPARE(m_rowsMeanwhile, 4);
        QCOMPARE(m_seen, ConfirmBox(Title(1), Url(1)));
        QCOMPARE(Rows(), (QStringList{Row(3), Row(4)}));
        Tick();
        QCOMPARE(Rows(), (QStringList{Row(3), Row(4), Row(1), Row(2)}));
    }

    // Refresh with monitoring off keeps a rule list; the status box says which state it is.
    void refreshAndStatus() {
        m->db.insert(u"规则"_s, u"通过"_s, Url(9));
        m->view.OnShowPassed();
        m->view.OnRefreshList();
        QCOMPARE(List()->rowCount(), 1);
        const auto status = &CWinwardenView::OnShowStatus;
        Run(status, {Press(QMessageBox::Ok)});
        QCOMPARE(m_seen, Box(u"statusBox"_s, QMessageBox::Information,
                             u"《 浏览哨兵》程序，停止运行！   "_s));
        Open({1});
        m->view.OnStart();
        Tick();
        m->view.OnCmdMsg(cmd::kRefreshList);
        QCOMPARE(QSize(List()->columnCount(), List()->rowCount()), QSize(3, 0));
        Run(status, {Press(QMessageBox::Ok)});
        QCOMPARE(m_seen, Box(u"statusBox"_s, QMessageBox::Information,
                             u"《 浏览哨兵》程序，正常运行！   "_s));
    }

    // Before the initial update a resize leaves the list alone; after it the list fills the
    // view in its own colours. A repeated update keeps the size and the monitoring state.
    void initialUpdatePreparesTheList() {
        CWinwardenView view(nullptr, m->services);
        QTableWidget* list = view.ListControl();
        view.show();
        const QRect untouched = list->geometry();
        view.resize(640, 360);
        QCOMPARE(list->geometry(), untouched);
        QSignalSpy titles(&view, &CWinwardenView::titleChanged);
        view.OnInitialUpdate();
        QCOMPARE(titles.value(0).value(0).toString(), u"浏览哨兵"_s);
        QVERIFY(list->isHidden() && list->showGrid() && list->verticalHeader()->isHidden());
        QVERIFY(list->selectionBehavior() == QAbstractItemView::SelectRows &&
                list->selectionMode() == QAbstractItemView::ExtendedSelection &&
                list->editTriggers() == QAbstractItemView::NoEditTriggers);
        view.resize(700, 420);
        QCOMPARE(list->geometry(), QRect(0, 0, 700, 420));

        Open({1});
        view.OnStart();
        view.OnTimer(CWinwardenView::kMonitorTimerId);
        // The lavender really reaches the screen, below the rows.
        const QImage image = list->viewport()->grab().toImage();
        QCOMPARE(image.pixelColor(image.width() / 2, image.height() - 5), QColor(220, 220, 240));
        view.OnInitialUpdate();
        QCOMPARE(titles.size(), 2);
        QCOMPARE(view.size(), QSize(700, 420));
        QVERIFY(list->isHidden() && view.IsMonitoring());
        QCOMPARE(QAbstractEventDispatcher::instance()->registeredTimers(&view).size(), 1);
        QCOMPARE(QSize(list->columnCount(), list->rowCount()), QSize(3, 1));
    }

    // A refusing store is reported in a box; the list keeps what it shows, nothing is
    // half-done, and the commands work again once the store does.
    void storeFailuresAreReportedAndSurvived() {
        m->db.insert(u"甲"_s, u"通过"_s, Url(1));
        m->view.OnShowPassed();
        const QStringList shown = Rows();
        m->db.exec(u"ALTER TABLE 窗口名表 RENAME TO 别处"_s);
        const auto failed = [&](const QString& what) {
            const QString box = Box(u"storeFailureBox"_s, QMessageBox::Warning, what);
            return m_seen.startsWith(box) && m_seen.size() > box.size();
        };
        Run(&CWinwardenView::OnShowBlocked, {Press(QMessageBox::Ok)});
        QVERIFY2(failed(u"读取规则失败："_s), qPrintable(m_seen));
        List()->selectRow(0);
        QCOMPARE(Run(&CWinwardenView::OnListDblClk,
                     {Dialog("radioBlock", "ok"), Press(QMessageBox::Ok)}),
                 2);
        QVERIFY2(failed(u"修改窗口标记失败："_s), qPrintable(m_seen));
        QCOMPARE(
            Run(&CWinwardenView::OnDeleteWindow, {Press(QMessageBox::Ok), Press(QMessageBox::Ok)}),
            2);
        QVERIFY2(failed(u"删除窗口规则失败："_s), qPrintable(m_seen));
        QCOMPARE(Rows(), shown);
        m->db.exec(u"ALTER TABLE 别处 RENAME TO 窗口名表"_s);
        m->view.OnShowBlocked();
        QCOMPARE(List()->rowCount(), 0);
        m->view.OnShowPassed();
        QCOMPARE(Rows(), shown);
    }
};

QTEST_MAIN(TestViewCommands)
#include "test_viewcommands.moc"
