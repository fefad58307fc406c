// The list commands against a real rule database: rule lists, flag edits, deletes, status,
// with monitor ticks arriving while the dialog or a box is open.
#include "monitor/winwardenview.h"
#include "res/commandids.h"
#include "res/texts.h"
#include "survey/browsersnapshot.h"
#include "tests/support/fakes.h"
#include "tests/support/modalanswer.h"
#include "tests/support/testdb.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDesktopServices>
#include <QHeaderView>
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

RuleRow Rule(const std::optional<QString>& name, const std::optional<QString>& flag,
             const std::optional<QString>& url) {
    return RuleRow{QVariant(), name, flag, url};
}

// What a message box said when it came up.
struct BoxSeen {
    QString name, caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

ModalAnswer::Step AnswerBox(BoxSeen& seen, QMessageBox::StandardButton press,
                            std::function<void()> meanwhile = {}) {
    return [&seen, press, meanwhile](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        seen = {box->objectName(), box->windowTitle(), box->text(), box->icon(),
                box->standardButtons()};
        if (meanwhile)
            meanwhile();
        box->button(press)->click();
    };
}

QString ConfirmText(const QString& caption, const QString& url) {
    return QStringLiteral("窗口名：") + caption + QStringLiteral("     \n网　址：") + url +
           QStringLiteral("     \n\n是否真的要删除 ？");
}

// Collects the addresses the view hands to the desktop.
class UrlSink final : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

} // namespace

class TestViewCommands final : public QObject {
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

    QStringList Headers() const {
        QStringList headers;
        for (int c = 0; c < List()->columnCount(); ++c)
            headers.append(List()->horizontalHeaderItem(c)->text());
        return headers;
    }

    void Select(std::initializer_list<int> rows) {
        List()->clearSelection();
        for (int row : rows)
            List()->selectionModel()->select(List()->model()->index(row, 0),
                                             QItemSelectionModel::Select |
                                                 QItemSelectionModel::Rows);
    }

    // A double-click on `row` of the list, as the list reports it.
    void DoubleClick(int row) { Q_EMIT List()->cellDoubleClicked(row, 0); }

    void Tick() { m_view->OnTimer(CWinwardenView::kMonitorTimerId); }

    // Picks a flag in the dialog and presses one of its buttons.
    static ModalAnswer::Step AnswerDialog(QStringList& shown, const char* radio, const char* button,
                                          std::function<void()> meanwhile = {}) {
        return [&shown, radio, button, meanwhile](QWidget* modal) {
            QCOMPARE(modal->objectName(), QStringLiteral("CWindowFlagDlg"));
            for (const char* field : {"windowName", "flag", "url"})
                shown.append(Child<QLineEdit>(modal, field)->text());
            if (meanwhile)
                meanwhile();
            if (radio)
                Child<QRadioButton>(modal, radio)->click();
            Child<QPushButton>(modal, button)->click();
        };
    }

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
        m_view->OnInitialUpdate();
    }

    void cleanup() {
        m_view.reset();
        m_db.reset();
    }

    // Each rule list replaces the rows; fields that are NULL leave their cell empty, an
    // empty window name still gets the caption suffix.
    void ruleListsShowTheStoredRules() {
        const QString odd = QStringLiteral("O'Brien 100% \"首页\"");
        m_db->insert(odd, kPass, QStringLiteral("https://a.test/?q='x'%20"));
        m_db->insert(std::nullopt, kPass, QStringLiteral("https://null-name.test/"));
        m_db->insert(QStringLiteral(""), kPass, QStringLiteral("https://empty-name.test/"));
        m_db->insert(QStringLiteral("乙"), kBlock, QStringLiteral("https://b.test/"));
        m_db->insert(QStringLiteral("丙"), kPass, std::nullopt);
        QVERIFY(List()->isHidden());

        QVERIFY(m_view->OnCmdMsg(cmd::kShowPassed));
        QVERIFY(!List()->isHidden());
        QCOMPARE(Headers(),
                 (QStringList{text::kColumnCaption, text::kColumnFlag, text::kColumnUrl}));
        QCOMPARE(Rows(),
                 (QList<Row>{
                     {Caption(odd), kPass, QStringLiteral("https://a.test/?q='x'%20")},
                     {QString(), kPass, QStringLiteral("https://null-name.test/")},
                     {text::kCaptionSuffix, kPass, QStringLiteral("https://empty-name.test/")},
                     {Caption(QStringLiteral("丙")), kPass, QString()},
                 }));
        QCOMPARE(m_view->Store().CurrentFilter(), kPass);

        QVERIFY(m_view->OnCmdMsg(cmd::kShowBlocked));
        QCOMPARE(m_view->Store().CurrentFilter(), kBlock);
        QCOMPARE(Rows(), (QList<Row>{{Caption(QStringLiteral("乙")), kBlock,
                                      QStringLiteral("https://b.test/")}}));

        m_view->LoadRuleList(QStringLiteral("无此标记"));
        QCOMPARE(Headers().size(), 3);
        QCOMPARE(List()->rowCount(), 0);
        QCOMPARE(m_view->Store().CurrentFilter(), kBlock);
        QVERIFY(m_view->Store().AtEnd());
    }

    // The edit acts on the lowest selected row, whichever row was double-clicked, and the
    // row stays in a list whose flag it no longer has.
    void flagEditActsOnTheFirstSelectedRow() {
        for (const char* name : {"零", "一", "二"})
            m_db->insert(QString::fromUtf8(name), kBlock,
                         QStringLiteral("https://%1.test/").arg(QString::fromUtf8(name)));
        m_view->OnShowBlocked();
        const QList<Row> before = Rows();
        Select({2, 1});

        QStringList shown;
        {
            ModalAnswer answer({AnswerDialog(shown, "radioPass", "ok")});
            DoubleClick(2);
            QCOMPARE(answer.answered(), 1);
        }
        QCOMPARE(shown, (QStringList{before[1].caption, kBlock, before[1].url}));
        QCOMPARE(Rows(),
                 (QList<Row>{before[0], {before[1].caption, kPass, before[1].url}, before[2]}));
        QCOMPARE(m_db->rows()[1], Rule(QStringLiteral("一"), kPass, before[1].url));
        QCOMPARE(m_db->rows()[2].flag, std::optional(kBlock));

        // Cancel changes neither the row nor the rule, whatever was clicked before.
        shown.clear();
        {
            ModalAnswer answer({AnswerDialog(shown, "radioBlock", "cancel")});
            DoubleClick(1);
            QCOMPARE(answer.answered(), 1);
        }
        QCOMPARE(Rows()[1].flag, kPass);
        QCOMPARE(m_db->rows()[1].flag, std::optional(kPass));

        // OK without a change still stores the flag shown, over a change made elsewhere.
        m_db->exec(QStringLiteral("UPDATE 窗口名表 SET 是否禁止 = '禁止'"));
        shown.clear();
        {
            ModalAnswer answer({AnswerDialog(shown, nullptr, "ok")});
            DoubleClick(1);
        }
        QCOMPARE(shown[1], kPass);
        QCOMPARE(m_db->rows()[1].flag, std::optional(kPass));
        QCOMPARE(m_db->rows()[0].flag, std::optional(kBlock));

        // Nothing selected: no dialog.
        List()->clearSelection();
        ModalAnswer none({AnswerDialog(shown, nullptr, "ok")});
        m_view->OnListDblClk();
        QCOMPARE(none.answered(), 0);
    }

    // A confirmed delete removes every rule with the row's URL and reloads the current
    // filter; cancel and a missing selection change nothing.
    void deleteRemovesEveryRuleOfTheUrl() {
        const QString shared = QStringLiteral("https://shared.test/");
        const QString name = QStringLiteral("五折 %2 特卖");
        m_db->insert(name, kBlock, shared);
        m_db->insert(QStringLiteral("别名"), kPass, shared);
        m_db->insert(QStringLiteral("留下"), kBlock, QStringLiteral("https://keep.test/"));
        m_view->OnShowBlocked();
        const QList<RuleRow> stored = m_db->rows();

        BoxSeen seen;
        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Ok)});
            List()->clearSelection();
            m_view->OnDeleteWindow();
            QCOMPARE(answer.answered(), 1);
        }
        QCOMPARE(seen.name, QStringLiteral("selectWindowBox"));
        QCOMPARE(seen.caption, text::kPromptCaption);
        QCOMPARE(seen.text, QStringLiteral("请选择一个窗口 ！  "));
        QCOMPARE(seen.icon, QMessageBox::Information);
        QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(m_db->rows(), stored);

        Select({0});
        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Cancel)});
            m_view->OnDeleteWindow();
        }
        QCOMPARE(seen.name, QStringLiteral("confirmDeleteBox"));
        QCOMPARE(seen.text, ConfirmText(Caption(name), shared));
        QCOMPARE(seen.icon, QMessageBox::Question);
        QCOMPARE(seen.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(m_db->rows(), stored);
        QCOMPARE(List()->rowCount(), 2);

        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Ok)});
            m_view->OnCmdMsg(cmd::kDeleteWindow);
        }
        QCOMPARE(m_db->rows(), (QList<RuleRow>{Rule(QStringLiteral("留下"), kBlock,
                                                    QStringLiteral("https://keep.test/"))}));
        QCOMPARE(Rows(), (QList<Row>{{Caption(QStringLiteral("留下")), kBlock,
                                      QStringLiteral("https://keep.test/")}}));
    }

    // Ticks keep coming while the dialog and the confirmation are open; they append rows,
    // and the pending edit and delete still reach the rows they were opened for.
    void ticksWhileModalsAreOpen() {
        auto url = [](int n) {
            return QStringLiteral("https://page%1.test/").arg(n);
        };
        auto title = [](int n) {
            return QStringLiteral("页面%1").arg(n);
        };
        m_shell.SetPages({{title(1), url(1)}, {title(2), url(2)}});
        m_view->OnStart();
        Tick();
        QCOMPARE(List()->rowCount(), 2);

        Select({1});
        QStringList shown;
        int rowsDuringDialog = 0;
        {
            ModalAnswer answer({AnswerDialog(shown, "radioBlock", "ok", [&] {
                m_shell.SetPages({{title(1), url(1)}, {title(2), url(2)}, {title(3), url(3)}});
                Tick();
                rowsDuringDialog = List()->rowCount();
            })});
            DoubleClick(1);
        }
        QCOMPARE(rowsDuringDialog, 3);
        QCOMPARE(Rows(), (QList<Row>{{Caption(title(1)), kPass, url(1)},
                                     {Caption(title(2)), kBlock, url(2)},
                                     {Caption(title(3)), kPass, url(3)}}));
        QCOMPARE(m_db->rows()[1], Rule(title(2), kBlock, url(2)));
        // The next tick already acts on the new flag.
        m_windows.captions = {Caption(title(2))};
        Tick();
        QCOMPARE(m_windows.CloseRequestsFor(Caption(title(2))), 1);

        // A delete from the live list leaves the rule list of the current filter, below which
        // the following ticks list the open windows again.
        Select({0});
        BoxSeen seen;
        int rowsDuringBox = 0;
        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Ok, [&] {
                m_shell.SetPages({{title(1), url(1)},
                                  {title(2), url(2)},
                                  {title(3), url(3)},
                                  {title(4), url(4)}});
                Tick();
                rowsDuringBox = List()->rowCount();
            })});
            m_view->OnDeleteWindow();
        }
        QCOMPARE(rowsDuringBox, 4);
        QCOMPARE(seen.text, ConfirmText(Caption(title(1)), url(1)));
        QCOMPARE(Rows(), (QList<Row>{{Caption(title(3)), kPass, url(3)},
                                     {Caption(title(4)), kPass, url(4)}}));
        QVERIFY(m_view->IsMonitoring());
        Tick();
        QCOMPARE(Rows().size(), 4);
        QCOMPARE(Rows()[2].caption, Caption(title(1)));
        QCOMPARE(Rows()[3], (Row{Caption(title(2)), kPass, url(2)}));
    }

    void refreshAndStatusFollowTheMonitoringFlag() {
        m_db->insert(QStringLiteral("规则"), kPass, QStringLiteral("https://rule.test/"));
        m_view->OnShowPassed();
        m_view->OnRefreshList();
        QCOMPARE(List()->rowCount(), 1);

        BoxSeen seen;
        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Ok)});
            m_view->OnCmdMsg(cmd::kShowStatus);
        }
        QCOMPARE(seen.name, QStringLiteral("statusBox"));
        QCOMPARE(seen.caption, text::kPromptCaption);
        QCOMPARE(seen.text, QStringLiteral("《 浏览哨兵》程序，停止运行！   "));
        QCOMPARE(seen.icon, QMessageBox::Information);

        m_shell.SetPages({{QStringLiteral("甲"), QStringLiteral("https://a.test/")}});
        m_view->OnStart();
        Tick();
        QCOMPARE(List()->rowCount(), 1);
        m_view->OnCmdMsg(cmd::kRefreshList);
        QCOMPARE(List()->rowCount(), 0);
        QCOMPARE(Headers().size(), 3);
        Tick();
        QCOMPARE(List()->rowCount(), 1);
        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Ok)});
            m_view->OnShowStatus();
        }
        QCOMPARE(seen.text, QStringLiteral("《 浏览哨兵》程序，正常运行！   "));
    }

    // Before the initial update a resize leaves the list alone; after it the list fills the
    // view in its own colours. A repeated update keeps the size and the monitoring state.
    void initialUpdatePreparesTheList() {
        CWinwardenView view(nullptr, [&] {
            MonitorServices services;
            services.shellWindows = &m_shell;
            services.topLevelWindows = &m_windows;
            services.snapshot = m_snapshot.get();
            services.databasePath = m_db->path();
            return services;
        }());
        QTableWidget* list = view.ListControl();
        view.show();
        const QRect untouched = list->geometry();
        view.resize(640, 360);
        QCOMPARE(list->geometry(), untouched);

        QSignalSpy titles(&view, &CWinwardenView::titleChanged);
        view.OnInitialUpdate();
        QCOMPARE(titles.size(), 1);
        QCOMPARE(titles[0][0].toString(), QStringLiteral("浏览哨兵"));
        QVERIFY(list->isHidden());
        QCOMPARE(list->geometry(), view.rect());
        QVERIFY(list->showGrid());
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(list->columnCount(), 0);
        view.resize(700, 420);
        QCOMPARE(list->geometry(), QRect(0, 0, 700, 420));

        m_shell.SetPages({{QStringLiteral("甲"), QStringLiteral("https://a.test/")}});
        view.OnStart();
        view.OnTimer(CWinwardenView::kMonitorTimerId);
        QVERIFY(!list->isHidden());
        // The lavender really reaches the screen below the rows.
        const QImage image = list->viewport()->grab().toImage();
        QCOMPARE(image.pixelColor(image.width() / 2, image.height() - 5), QColor(220, 220, 240));

        view.OnInitialUpdate();
        QCOMPARE(view.size(), QSize(700, 420));
        QVERIFY(list->isHidden());
        QVERIFY(view.IsMonitoring());
        QVERIFY(QAbstractEventDispatcher::instance()->registeredTimers(&view).size() == 1);
        QCOMPARE(list->columnCount(), 3);
        QCOMPARE(list->rowCount(), 1);
        QCOMPARE(titles.size(), 2);
    }

    void downloadPageOpensThePublishersSite() {
        UrlSink sink;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &sink, "open");
        QVERIFY(m_view->OnCmdMsg(cmd::kDownloadPage));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(sink.opened.size(), 1);
        QCOMPARE(sink.opened[0].path(), QStringLiteral("/software/index.htm"));
        QVERIFY(!sink.opened[0].host().isEmpty());
    }

    // A store that refuses is reported in a box; the list keeps what it shows, nothing is
    // half-done, and the commands work again once the store does.
    void storeFailuresAreReportedAndSurvived() {
        m_db->insert(QStringLiteral("甲"), kPass, QStringLiteral("https://a.test/"));
        m_view->OnShowPassed();
        const QList<Row> shown = Rows();
        m_db->exec(QStringLiteral("ALTER TABLE 窗口名表 RENAME TO 别处"));

        BoxSeen seen;
        {
            ModalAnswer answer({AnswerBox(seen, QMessageBox::Ok)});
            m_view->OnShowBlocked();
            QCOMPARE(answer.answered(), 1);
        }
        QCOMPARE(seen.name, QStringLiteral("storeFailureBox"));
        QCOMPARE(seen.caption, text::kPromptCaption);
        QVERIFY2(seen.text.startsWith(QStringLiteral("读取规则失败：")), qPrintable(seen.text));
        QVERIFY(seen.text.size() > QStringLiteral("读取规则失败：").size());
        QCOMPARE(Rows(), shown);

        Select({0});
        QStringList dialogShown;
        {
            ModalAnswer answer(
                {AnswerDialog(dialogShown, "radioBlock", "ok"), AnswerBox(seen, QMessageBox::Ok)});
            DoubleClick(0);
            QCOMPARE(answer.answered(), 2);
        }
        QVERIFY2(seen.text.startsWith(QStringLiteral("修改窗口标记失败：")), qPrintable(seen.text));
        QCOMPARE(Rows(), shown);

        {
            ModalAnswer answer(
                {AnswerBox(seen, QMessageBox::Ok), AnswerBox(seen, QMessageBox::Ok)});
            m_view->OnDeleteWindow();
            QCOMPARE(answer.answered(), 2);
        }
        QVERIFY2(seen.text.startsWith(QStringLiteral("删除窗口规则失败：")), qPrintable(seen.text));
        QCOMPARE(Rows(), shown);

        m_db->exec(QStringLiteral("ALTER TABLE 别处 RENAME TO 窗口名表"));
        m_view->OnShowBlocked();
        QCOMPARE(List()->rowCount(), 0);
        m_view->OnShowPassed();
        QCOMPARE(Rows(), shown);
    }
};

QTEST_MAIN(TestViewCommands)
#include "test_viewcommands.moc"
