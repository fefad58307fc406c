// The main window over the real view: menus, keys, status bar and bars.
#include "res/accelerators.h"
#include "tests/app/appfixture.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>

using namespace winwarden;
using namespace Qt::Literals::StringLiterals;

class TestMainFrame final : public QObject {
    Q_OBJECT

    std::unique_ptr<test::AppFixture> m_fixture;
    CMainFrame& Frame() { return m_fixture->Frame(); }
    QString Pane() { return Frame().MessageText(); }

private Q_SLOTS:
    void init() {
        m_fixture = std::make_unique<test::AppFixture>();
        QVERIFY(m_fixture->Start());
        QVERIFY(QTest::qWaitForWindowExposed(&Frame()));
    }
    void cleanup() { m_fixture.reset(); }

    // "caption=id", "[x]" on a checkable item, "(off)" on a disabled one, "---" a separator.
    void menuTreeWhileMonitoringThenStop() {
        m_fixture->TriggerMenu(cmd::kStart);
        m_fixture->TriggerMenu(cmd::kStart); // twice is harmless
        QVERIFY(m_fixture->View().IsMonitoring());
        QString tree;
        for (QAction* top : Frame().menuBar()->actions()) {
            tree += u'\n' + top->text() + u':';
            for (QAction* a : top->menu()->actions()) {
                tree +=
                    u' ' + (a->isSeparator() ? u"---"_s : a->text() + u'=' + a->data().toString()) +
                    (a->isCheckable() ? u"[x]"_s : u""_s) + (a->isEnabled() ? u""_s : u"(off)"_s);
            }
        }
        QCOMPARE(tree, u"\n系统(&S): 启动=32771 停止=32772 --- 退出(&X)=57665"
                       u"\n窗口(&W): 禁止的窗口=32774 通过的窗口=32775 --- 删除一个窗口=32777 "
                       u"刷新监视屏幕=32779"
                       u"\n查看(&V): 工具栏(&T)=59392[x] 状态栏(&S)=59393[x] --- 程序状态=32780"
                       u"\n帮助(&H): 关于 winwarden(&A)...=57664 --- 下载最新版本=32778"_s);
        m_fixture->TriggerMenu(cmd::kStop);
        QVERIFY(!m_fixture->View().IsMonitoring());
    }
    // Stored flags: 1 virtual key, 4 Shift, 8 Ctrl, 16 Alt, 128 last entry.
    void acceleratorFlagsAndVirtualKeysNameTheirKeys() {
        const QHash<int, int> named{
            {Qt::Key_Backspace, 8}, {Qt::Key_Delete, 46}, {Qt::Key_Insert, 45}, {Qt::Key_F6, 117}};
        for (const res::Accelerator& entry : res::kAccelerators) {
            const auto m = entry.key.keyboardModifiers();
            QCOMPARE(entry.flags, 1 | (m & Qt::ShiftModifier ? 4 : 0) |
                                      (m & Qt::ControlModifier ? 8 : 0) |
                                      (m & Qt::AltModifier ? 16 : 0) |
                                      (&entry == &res::kAccelerators.back() ? 128 : 0));
            const int key = entry.key.key(); // Qt's letter keys share their codes with Windows'
            QCOMPARE(entry.virtualKey, key >= Qt::Key_A && key <= Qt::Key_Z ? key : named[key]);
        }
    }
    // The window's accelerators take every editing key before the list, and none of them
    // touches the list or the clipboard; a bare table shows the clipboard check can tell.
    void editingKeysInTheListDoNothing() {
        CWinwardenView& view = m_fixture->View();
        m_fixture->TriggerMenu(cmd::kStart);
        view.AddToLiveList(u"Kept page"_s, u"https://kept.example/"_s);
        view.AddToLiveList(u"Other page"_s, u"https://other.example/"_s);
        QTableWidget* list = view.ListControl();
        list->selectAll();
        Frame().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&Frame()));
        list->setFocus();
        QApplication::clipboard()->setText(u"sentinel"_s);
        for (const QString& key : u"Ctrl+C Ctrl+Ins Ctrl+X Shift+Del Ctrl+V Shift+Ins Ctrl+Z "
                                  u"Alt+Backspace F6 Shift+F6"_s.split(u' ')) {
            QTest::keySequence(list, QKeySequence(key));
        }
        QCOMPARE(QApplication::clipboard()->text(), u"sentinel"_s);
        QCOMPARE(list->rowCount(), 2);
        QCOMPARE(list->item(0, 0)->text(), u"Kept page - Microsoft Internet Explorer"_s);
        QVERIFY(list->hasFocus());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);

        QTableWidget bare(1, 1);
        bare.setItem(0, 0, new QTableWidgetItem(u"bare"_s));
        bare.setCurrentCell(0, 0);
        bare.show();
        bare.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&bare));
        QTest::keyClick(&bare, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), u"bare"_s);
    }
    // A program command has no prompt: the pane empties instead of keeping the last one.
    void highlightedCommandsShowTheirPrompt() {
        const QString about = u"显示程序信息，版本号和版权"_s;
        QCOMPARE(Pane(), u"就绪"_s);
        QAction* item = Frame().MenuAction(cmd::kAppAbout);
        auto* menu = qobject_cast<QMenu*>(item->parent());
        menu->popup(Frame().mapToGlobal(QPoint(20, 20)));
        QTRY_VERIFY(menu->isVisible());
        menu->setActiveAction(item);
        QTRY_COMPARE(Pane(), about);
        menu->setActiveAction(Frame().MenuAction(cmd::kDownloadPage));
        QTRY_COMPARE(Pane(), QString());
        menu->hide();
        QTRY_COMPARE(Pane(), u"就绪"_s);
        QWidget* button = Frame().ToolBar()->widgetForAction(Frame().ToolBar()->actions().value(0));
        QCOMPARE(button ? button->toolTip() : QString(), u"关于"_s);
        QTest::mouseMove(button);
        QTRY_COMPARE(Pane(), about);
        QTest::mouseMove(Frame().centralWidget());
        QTRY_COMPARE(Pane(), u"就绪"_s);
    }
    // After each step, as the View menu opens: toolbar shown, its mark, status bar shown, its mark.
    void viewTogglesFollowTheBars() {
        QAction* toolbar = Frame().MenuAction(cmd::kViewToolbar);
        QAction* status = Frame().MenuAction(cmd::kViewStatusBar);
        const auto after = [&](QAction* item) {
            item ? item->trigger() : Frame().ToolBar()->hide(); // null: hidden some other way
            Q_EMIT qobject_cast<QMenu*>(toolbar->parent())->aboutToShow();
            return QList<bool>{!Frame().ToolBar()->isHidden(), toolbar->isChecked(),
                               !Frame().statusBar()->isHidden(), status->isChecked()};
        };
        QCOMPARE(after(toolbar), QList<bool>({false, false, true, true}));
        QCOMPARE(after(status), QList<bool>({false, false, false, false}));
        QCOMPARE(after(toolbar), QList<bool>({true, true, false, false}));
        QCOMPARE(after(nullptr), QList<bool>({false, false, false, false}));
    }
    void exitEndsTheRunAfterStoppingTheMonitor() {
        CWinwardenView& view = m_fixture->View();
        m_fixture->TriggerMenu(cmd::kStart);
        const auto timers = [&view] {
            return QAbstractEventDispatcher::instance()->registeredTimers(&view).size();
        };
        QVERIFY(timers() > 0);
        QEventLoop loop; // exit ends the run with status 0; one that does not end fails
        QTimer::singleShot(0, this, [this] { m_fixture->TriggerMenu(cmd::kAppExit); });
        QTimer::singleShot(5000, &loop, [&loop] { loop.exit(99); });
        QCOMPARE(loop.exec(), 0);
        QVERIFY(!Frame().isVisible());
        QCOMPARE(timers(), 0); // the monitor stops before the store closes with the view
    }
};

QTEST_MAIN(TestMainFrame)
#include "test_mainframe.moc"
