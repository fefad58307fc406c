// The list commands against a real rule database, with monitor ticks arriving while the flag
// dialog or a box is open.
#include "monitor/winwardenview.h"
#include "res/commandids.h"
#include "res/texts.h"
#include "survey/browsersnapshot.h"
#include "tests/support/fakes.h"
#include "tests/support/modalanswer.h"
#include "tests/support/testdb.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <memory>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

const QString kPass = u"通过"_s;
const QString kBlock = u"禁止"_s;

QString Caption(const QString& title) {
    return title + text::kCaptionSuffix;
}
QString Url(int n) {
    return u"https://page%1.test/"_s.arg(n);
}
QString Title(int n) {
    return u"页面%1"_s.arg(n);
}
using Row = QStringList; // caption, flag, URL as the list shows them

// A message box as it came up: object name, caption, text, icon and buttons.
struct BoxSeen {
    QString name, caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QStringList buttonTexts;
};

// Answers a box with `press`, after doing `meanwhile` while it is open.
ModalAnswer::Step AnswerBox(BoxSeen& seen, QMessageBox::StandardButton press,
                            std::function<void()> meanwhile = {}) {
    return [&seen, press, meanwhile](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        seen = {box->objectName(), box->windowTitle(),     box->text(),
                box->icon(),       box->standardButtons(), {}};
        for (QAbstractButton* button : box->buttons())
            seen.buttonTexts.append(button->text());
        seen.buttonTexts.sort();
        if (meanwhile)
            meanwhile();
        box->button(press)->click();
    };
}

// Notes the dialog's three fields, does `meanwhile`, clicks `radio` (if any), presses `button`.
ModalAnswer::Step AnswerDialog(QStringList& shown, const char* radio, const char* button,
                               std::function<void()> meanwhile = {}) {
    return [&shown, radio, button, meanwhile](QWidget* modal) {
        QCOMPARE(modal->objectName(), u"CWindowFlagDlg"_s);
        shown.clear();
        for (const char* field : {"windowName", "flag", "url"})
            shown.append(Child<QLineEdit>(modal, field)->text());
        if (meanwhile)
            meanwhile();
        if (radio)
            Child<QRadioButton>(modal, radio)->click();
        Child<QPushButton>(modal, button)->click();
    };
}

QString ConfirmText(const QString& caption, const QString& url) {
    return u"窗口名："_s + caption + u"     \n网　址："_s + url + u"     \n\n是否真的要删除 ？"_s;
}

} // namespace

class UrlSink final : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

class TestViewCommands final : public QObject {
    Q_OBJECT
    std::unique_ptr<TempRuleDb> m_db;
    std::unique_ptr<BrowserSnapshot> m_snapshot;
    FakeShellWindows m_shell;
    FakeTopLevelWindows m_windows;
    std::unique_ptr<CWinwardenView> m_view;

    MonitorServices Services() {
        MonitorServices services;
        services.shellWindows = &m_shell;
        services.topLevelWindows = &m_windows;
        services.snapshot = m_snapshot.get();
        services.databasePath = m_db->path();
        return services;
    }
    QTableWidget* List() const { return m_view->ListControl(); }
    QList<Row> Rows() const {
        QList<Row> rows;
        for (int r = 0; r < List()->rowCount(); ++r) {
            Row row;
            for (int c = 0; c < 3; ++c)
                row.append(List()->item(r, c) ? List()->item(r, c)->text() : QString());
            rows.append(row);
        }
        return rows;
    }
    void Select(std::initializer_list<int> rows) {
        List()->clearSelection();
        for (int row : rows)
            List()->selectionModel()->select(List()->model()->index(row, 0),
                                             QItemSelectionModel::Select |
                                                 QItemSelectionModel::Rows);
    }
    // A double-click on `row`, as the list reports it, run with `step` answering the dialog.
    void DoubleClick(int row, const ModalAnswer::Step& step) {
        ModalAnswer answer({step});
        Q_EMIT List()->cellDoubleClicked(row, 0);
        QCOMPARE(answer.answered(), 1);
    }
    void Tick() { m_view->OnTimer(CWinwardenView::kMonitorTimerId); }
    void Open(const QList<int>& pages) {
        m_shell.items.clear();
        for (int n : pages)
            m_shell.items.append(FakeShellWindows::Page(Title(n), Url(n)));
    }

private Q_SLOTS:
    void init() {
        m_db = std::make_unique<TempRuleDb>();
        m_snapshot = std::make_unique<BrowserSnapshot>();
        m_shell = FakeShellWindows();
        m_windows = FakeTopLevelWindows();
        m_view = std::make_unique<CWinwardenView>(nullptr, Services());
        m_view->resize(800, 500);
        m_view->OnInitialUpdate();
    }
    void cleanup() {
        m_view.reset();
        m_db.reset();
    }

    // Each rule list replaces the rows; a NULL field leaves its cell empty, an empty window
    // name still gets the caption suffix.
    void ruleListsShowTheStoredRules() {
        const QString odd = u"O'Brien 100% \"首页\""_s;
        m_db->insert(odd, kPass, u"https://a.test/?q='x'%20"_s);
        m_db->insert(std::nullopt, kPass, Url(1));
        m_db->insert(u""_s, kPass, Url(2));
        m_db->insert(u"乙"_s, kBlock, Url(3));
        m_db->insert(u"丙"_s, kPass, std::nullopt);
        QVERIFY(List()->isHidden());

        QVERIFY(m_view->OnCmdMsg(cmd::kShowPassed));
        QVERIFY(!List()->isHidden());
        QCOMPARE(List()->columnCount(), 3);
        QCOMPARE(List()->horizontalHeaderItem(2)->text(), text::kColumnUrl);
        QCOMPARE(Rows(), (QList<Row>{{Caption(odd), kPass, u"https://a.test/?q='x'%20"_s},
                                     {QString(), kPass, Url(1)},
                                     {text::kCaptionSuffix, kPass, Url(2)},
                                     {Caption(u"丙"_s), kPass, QString()}}));

        QVERIFY(m_view->OnCmdMsg(cmd::kShowBlocked));
        QCOMPARE(m_view->Store().CurrentFilter(), kBlock);
        QCOMPARE(Rows(), (QList<Row>{{Caption(u"乙"_s), kBlock, Url(3)}}));

        m_view->LoadRuleList(u"无此标记"_s);
        QCOMPARE(List()->columnCount(), 3);
        QCOMPARE(List()->rowCount(), 0);
        QCOMPARE(m_view->Store().CurrentFilter(), kBlock);
    }

    // The edit acts on the lowest selected row, whichever row was double-clicked; the row
    // stays in a list whose flag it no longer has.
    void flagEditActsOnTheFirstSelectedRow() {
        for (int n : {0, 1, 2})
            m_db->insert(Title(n), kBlock, Url(n));
        m_view->OnShowBlocked();
        const QList<Row> before = Rows();
        Select({2, 1});
        QStringList shown;
        DoubleClick(2, AnswerDialog(shown, "radioPass", "ok"));
        QCOMPARE(shown, (QStringList{Caption(Title(1)), kBlock, Url(1)}));
        QCOMPARE(Rows(), (QList<Row>{before[0], {Caption(Title(1)), kPass, Url(1)}, before[2]}));
        const auto flags = [this] {
            QList<std::optional<QString>> all;
            for (const RuleRow& rule : m_db->rows())
                all.append(rule.flag);
            return all;
        };
        QCOMPARE(flags(), (QList<std::optional<QString>>{kBlock, kPass, kBlock}));

        // Cancel changes neither row nor rule, whatever was clicked before.
        DoubleClick(1, AnswerDialog(shown, "radioBlock", "cancel"));
        QCOMPARE(Rows()[1][1], kPass);
        QCOMPARE(flags()[1], kPass);

        // OK without a change still stores the flag shown, over a change made elsewhere.
        m_db->exec(u"UPDATE 窗口名表 SET 是否禁止 = '禁止'"_s);
        DoubleClick(1, AnswerDialog(shown, nullptr, "ok"));
        QCOMPARE(flags(), (QList<std::optional<QString>>{kBlock, kPass, kBlock}));

        List()->clearSelection();
        ModalAnswer none({AnswerDialog(shown, nullptr, "ok")});
        m_view->OnListDblClk();
        QCOMPARE(none.answered(), 0);
    }

    // A confirmed delete removes every rule with the row's URL and reloads the current
    // filter; cancel and a missing selection change nothing.
    void deleteRemovesEveryRuleOfTheUrl() {
        const QString name = u"五折 %2 特卖"_s;
        m_db->insert(name, kBlock, Url(1));
        m_db->insert(u"别名"_s, kPass, Url(1));
        m_db->insert(u"留下"_s, kBlock, Url(2));
        m_view->OnShowBlocked();
        const QList<RuleRow> stored = m_db->rows();
        BoxSeen seen;
        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Ok)});
            m_view->OnDeleteWindow();
        }
        QCOMPARE(seen.name, u"selectWindowBox"_s);
        QCOMPARE(seen.caption, u"系统提示"_s);
        QCOMPARE(seen.text, u"请选择一个窗口 ！  "_s);
        QCOMPARE(seen.icon, QMessageBox::Information);

        Select({0});
        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Cancel)});
            m_view->OnDeleteWindow();
        }
        QCOMPARE(seen.name, u"confirmDeleteBox"_s);
        QCOMPARE(seen.text, ConfirmText(Caption(name), Url(1)));
        QCOMPARE(seen.icon, QMessageBox::Question);
        QCOMPARE(seen.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(seen.buttonTexts, (QStringList{u"取消"_s, u"确定"_s}));
        QCOMPARE(m_db->rows(), stored);
        QCOMPARE(List()->rowCount(), 2);

        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Ok)});
            m_view->OnCmdMsg(cmd::kDeleteWindow);
        }
        QCOMPARE(m_db->rows(), (QList<RuleRow>{{QVariant(), u"留下"_s, kBlock, Url(2)}}));
        QCOMPARE(Rows(), (QList<Row>{{Caption(u"留下"_s), kBlock, Url(2)}}));
    }

    // Ticks keep coming while the dialog and the confirmation are open; they append rows,
    // and the pending edit and delete still reach the rows they were opened for.
    void ticksWhileModalsAreOpen() {
        Open({1, 2});
        m_view->OnStart();
        Tick();
        Select({1});
        QStringList shown;
        int rowsMeanwhile = 0;
        DoubleClick(1, AnswerDialog(shown, "radioBlock", "ok", [&] {
                        Open({1, 2, 3});
                        Tick();
                        rowsMeanwhile = List()->rowCount();
                    }));
        QCOMPARE(rowsMeanwhile, 3);
        QCOMPARE(Rows(), (QList<Row>{{Caption(Title(1)), kPass, Url(1)},
                                     {Caption(Title(2)), kBlock, Url(2)},
                                     {Caption(Title(3)), kPass, Url(3)}}));
        m_windows.captions = {Caption(Title(2))};
        Tick();
        QCOMPARE(m_windows.CloseRequestsFor(Caption(Title(2))), 1);

        // A delete from the live list leaves the rule list of the current filter ("通过"),
        // below which the next ticks list the open windows again.
        Select({0});
        BoxSeen seen;
        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Ok, [&] {
                Open({1, 2, 3, 4});
                Tick();
                rowsMeanwhile = List()->rowCount();
            })});
            m_view->OnDeleteWindow();
        }
        QCOMPARE(rowsMeanwhile, 4);
        QCOMPARE(seen.text, ConfirmText(Caption(Title(1)), Url(1)));
        QCOMPARE(Rows(), (QList<Row>{{Caption(Title(3)), kPass, Url(3)},
                                     {Caption(Title(4)), kPass, Url(4)}}));
        Tick();
        QCOMPARE(Rows().size(), 4);
        QCOMPARE(Rows()[3], (Row{Caption(Title(2)), kPass, Url(2)}));
    }

    void refreshStatusAndDownloadPage() {
        m_db->insert(u"规则"_s, kPass, Url(9));
        m_view->OnShowPassed();
        m_view->OnRefreshList();
        QCOMPARE(List()->rowCount(), 1);
        BoxSeen seen;
        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Ok)});
            m_view->OnCmdMsg(cmd::kShowStatus);
        }
        QCOMPARE(seen.name, u"statusBox"_s);
        QCOMPARE(seen.caption, u"系统提示"_s);
        QCOMPARE(seen.text, u"《 浏览哨兵》程序，停止运行！   "_s);
        QCOMPARE(seen.icon, QMessageBox::Information);

        Open({1});
        m_view->OnStart();
        Tick();
        m_view->OnCmdMsg(cmd::kRefreshList);
        QCOMPARE(List()->rowCount(), 0);
        QCOMPARE(List()->columnCount(), 3);
        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Ok)});
            m_view->OnShowStatus();
        }
        QCOMPARE(seen.text, u"《 浏览哨兵》程序，正常运行！   "_s);

        UrlSink sink;
        QDesktopServices::setUrlHandler(u"https"_s, &sink, "open");
        m_view->OnCmdMsg(cmd::kDownloadPage);
        QDesktopServices::unsetUrlHandler(u"https"_s);
        QCOMPARE(sink.opened.size(), 1);
        QCOMPARE(sink.opened[0].path(), u"/software/index.htm"_s);
    }

    // Before the initial update a resize leaves the list alone; after it the list fills the
    // view in its own colours. A repeated update keeps the size and the monitoring state.
    void initialUpdatePreparesTheList() {
        CWinwardenView view(nullptr, Services());
        QTableWidget* list = view.ListControl();
        view.show();
        const QRect untouched = list->geometry();
        view.resize(640, 360);
        QCOMPARE(list->geometry(), untouched);

        QSignalSpy titles(&view, &CWinwardenView::titleChanged);
        view.OnInitialUpdate();
        QCOMPARE(titles.size(), 1);
        QCOMPARE(titles[0][0].toString(), u"浏览哨兵"_s);
        QVERIFY(list->isHidden());
        QCOMPARE(list->geometry(), view.rect());
        QVERIFY(list->showGrid());
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
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
        QVERIFY(list->isHidden());
        QVERIFY(view.IsMonitoring());
        QCOMPARE(QAbstractEventDispatcher::instance()->registeredTimers(&view).size(), 1);
        QCOMPARE(list->columnCount(), 3);
        QCOMPARE(list->rowCount(), 1);
    }

    // A refusing store is reported in a box; the list keeps what it shows, nothing is
    // half-done, and the commands work again once the store does.
    void storeFailuresAreReportedAndSurvived() {
        m_db->insert(u"甲"_s, kPass, Url(1));
        m_view->OnShowPassed();
        const QList<Row> shown = Rows();
        m_db->exec(u"ALTER TABLE 窗口名表 RENAME TO 别处"_s);
        BoxSeen seen;
        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Ok)});
            m_view->OnShowBlocked();
        }
        QCOMPARE(seen.name, u"storeFailureBox"_s);
        QCOMPARE(seen.caption, u"系统提示"_s);
        QVERIFY2(seen.text.startsWith(u"读取规则失败："_s) && seen.text.size() > 7,
                 qPrintable(seen.text));

        Select({0});
        QStringList dialog;
        {
            ModalAnswer answer(
                {AnswerDialog(dialog, "radioBlock", "ok"), AnswerBox(seen, QMessageBox::Ok)});
            m_view->OnListDblClk();
            QCOMPARE(answer.answered(), 2);
        }
        QVERIFY2(seen.text.startsWith(u"修改窗口标记失败："_s), qPrintable(seen.text));
        {
            ModalAnswer answer(
                {AnswerBox(seen, QMessageBox::Ok), AnswerBox(seen, QMessageBox::Ok)});
            m_view->OnDeleteWindow();
            QCOMPARE(answer.answered(), 2);
        }
        QVERIFY2(seen.text.startsWith(u"删除窗口规则失败："_s), qPrintable(seen.text));
        QCOMPARE(Rows(), shown);

        m_db->exec(u"ALTER TABLE 别处 RENAME TO 窗口名表"_s);
        m_view->OnShowBlocked();
        QCOMPARE(List()->rowCount(), 0);
        m_view->OnShowPassed();
        QCOMPARE(Rows(), shown);
    }
};

QTEST_MAIN(TestViewCommands)
#include "test_viewcommands.moc"
