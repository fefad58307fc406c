// The main window over the real view: menus, keys, status bar and bars.
#include "res/accelerators.h"
#include "res/commandids.h"
#include "tests/app/appfixture.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

using namespace winwarden;
using namespace winwarden::test;

namespace {

struct Item {
    QString caption; // empty: a separator
    int id = 0;
    bool operator==(const Item&) const = default;
};

struct Menu {
    QString caption;
    QList<Item> items;
    bool operator==(const Menu&) const = default;
};

char* toString(const Menu& menu) {
    QStringList parts;
    for (const Item& item : menu.items) {
        parts << (item.caption.isEmpty() ? QStringLiteral("---")
                                         : QStringLiteral("%1=%2").arg(item.caption).arg(item.id));
    }
    return QTest::toString(menu.caption + QStringLiteral(": ") + parts.join(QStringLiteral(", ")));
}

QList<Menu> MenuTree(QMenuBar* bar) {
    QList<Menu> tree;
    for (QAction* top : bar->actions()) {
        Menu menu{top->text(), {}};
        for (QAction* action : top->menu()->actions()) {
            menu.items.append(action->isSeparator() ? Item{}
                                                    : Item{action->text(), action->data().toInt()});
        }
        tree.append(menu);
    }
    return tree;
}

QString Sep() {
    return QString();
}

} // namespace

class TestMainFrame final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<AppFixture> m_fixture;

    CMainFrame& Frame() { return m_fixture->Frame(); }
    QString Pane() { return Frame().MessageText(); }

private Q_SLOTS:
    void init() {
        m_fixture = std::make_unique<AppFixture>();
        QVERIFY(m_fixture->Start());
        QVERIFY(QTest::qWaitForWindowExposed(&Frame()));
    }
    void cleanup() { m_fixture.reset(); }

    void menuTreeHasEveryCaptionIdAndSeparator() {
        const QList<Menu> expected{
            {QStringLiteral("系统(&S)"),
             {{QStringLiteral("启动"), 32771},
              {QStringLiteral("停止"), 32772},
              {Sep(), 0},
              {QStringLiteral("退出(&X)"), 57665}}},
            {QStringLiteral("窗口(&W)"),
             {{QStringLiteral("禁止的窗口"), 32774},
              {QStringLiteral("通过的窗口"), 32775},
              {Sep(), 0},
              {QStringLiteral("删除一个窗口"), 32777},
              {QStringLiteral("刷新监视屏幕"), 32779}}},
            {QStringLiteral("查看(&V)"),
             {{QStringLiteral("工具栏(&T)"), 59392},
              {QStringLiteral("状态栏(&S)"), 59393},
              {Sep(), 0},
              {QStringLiteral("程序状态"), 32780}}},
            {QStringLiteral("帮助(&H)"),
             {{QStringLiteral("关于 winwarden(&A)..."), 57664},
              {Sep(), 0},
              {QStringLiteral("下载最新版本"), 32778}}},
        };
        const QList<Menu> actual = MenuTree(Frame().menuBar());
        QCOMPARE(actual.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QCOMPARE(actual.at(i), expected.at(i));
        }

        // Every item is enabled whatever the state, and only the bar toggles carry a mark.
        m_fixture->TriggerMenu(cmd::kStart);
        for (QAction* top : Frame().menuBar()->actions()) {
            for (QAction* action : top->menu()->actions()) {
                QVERIFY2(action->isEnabled(), qPrintable(action->text()));
                const int id = action->data().toInt();
                const bool toggle = id == cmd::kViewToolbar || id == cmd::kViewStatusBar;
                QCOMPARE(action->isCheckable(), toggle);
            }
        }
    }

    void acceleratorTableAgreesWithItsKeys() {
        // The stored flags and virtual keys must name the same keys the window listens to.
        int index = 0;
        for (const res::Accelerator& entry : res::kAccelerators) {
            const auto mods = entry.key.keyboardModifiers();
            int flags = res::kAccelVirtualKey;
            flags |= mods.testFlag(Qt::ControlModifier) ? res::kAccelControl : 0;
            flags |= mods.testFlag(Qt::ShiftModifier) ? res::kAccelShift : 0;
            flags |= mods.testFlag(Qt::AltModifier) ? res::kAccelAlt : 0;
            const bool last = index == int(res::kAccelerators.size()) - 1;
            QCOMPARE(entry.flags, flags | (last ? res::kAccelLast : 0));

            const Qt::Key key = entry.key.key();
            int vk = 0;
            if (key >= Qt::Key_A && key <= Qt::Key_Z) {
                vk = 'A' + (key - Qt::Key_A);
            } else if (key == Qt::Key_Backspace) {
                vk = 8;
            } else if (key == Qt::Key_Delete) {
                vk = 46;
            } else if (key == Qt::Key_Insert) {
                vk = 45;
            } else if (key == Qt::Key_F6) {
                vk = 117;
            }
            QCOMPARE(entry.virtualKey, vk);
            ++index;
        }
    }

    // QTableWidget copies its selection on Ctrl+C by itself; the window's accelerators must
    // take the key first, and every editing key must leave the list and the clipboard alone.
    void editingKeysInTheListDoNothing() {
        CWinwardenView& view = m_fixture->View();
        m_fixture->TriggerMenu(cmd::kStart);
        view.AddToLiveList(QStringLiteral("Kept page"), QStringLiteral("https://kept.example/"));
        view.AddToLiveList(QStringLiteral("Other page"), QStringLiteral("https://other.example/"));
        QTableWidget* list = view.ListControl();
        QCOMPARE(list->rowCount(), 2);
        list->setCurrentCell(0, 0);
        list->selectAll();

        // The same keys on a bare table do copy: the check below can tell.
        QTableWidget bare(1, 1);
        bare.setItem(0, 0, new QTableWidgetItem(QStringLiteral("bare")));
        bare.setCurrentCell(0, 0);
        QApplication::clipboard()->setText(QStringLiteral("sentinel"));
        bare.show();
        bare.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&bare));
        QTest::keyClick(&bare, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("bare"));

        bare.close();
        Frame().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&Frame()));
        list->setFocus();
        QApplication::clipboard()->setText(QStringLiteral("sentinel"));
        const QList<QKeyCombination> keys{Qt::CTRL | Qt::Key_C,        Qt::CTRL | Qt::Key_Insert,
                                          Qt::CTRL | Qt::Key_X,        Qt::SHIFT | Qt::Key_Delete,
                                          Qt::CTRL | Qt::Key_V,        Qt::SHIFT | Qt::Key_Insert,
                                          Qt::CTRL | Qt::Key_Z,        Qt::ALT | Qt::Key_Backspace,
                                          QKeyCombination(Qt::Key_F6), Qt::SHIFT | Qt::Key_F6};
        for (const QKeyCombination key : keys) {
            QTest::keyClick(list, key.key(), key.keyboardModifiers());
        }
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("sentinel"));
        QCOMPARE(list->rowCount(), 2);
        QCOMPARE(list->item(0, 0)->text(),
                 QStringLiteral("Kept page - Microsoft Internet Explorer"));
        QVERIFY(list->hasFocus());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void highlightedCommandsShowTheirPrompt() {
        QCOMPARE(Pane(), QStringLiteral("就绪"));
        const auto menuOf = [this](int id) {
            for (QAction* top : Frame().menuBar()->actions()) {
                if (top->menu()->actions().contains(Frame().MenuAction(id))) {
                    return top->menu();
                }
            }
            return static_cast<QMenu*>(nullptr);
        };

        QMenu* help = menuOf(cmd::kAppAbout);
        help->popup(Frame().mapToGlobal(QPoint(20, 20)));
        QTRY_VERIFY(help->isVisible());
        help->setActiveAction(Frame().MenuAction(cmd::kAppAbout));
        QTRY_COMPARE(Pane(), QStringLiteral("显示程序信息，版本号和版权"));
        // A program command has no prompt: the pane empties instead of keeping the last one.
        help->setActiveAction(Frame().MenuAction(cmd::kDownloadPage));
        QTRY_COMPARE(Pane(), QString());
        help->hide();
        QTRY_COMPARE(Pane(), QStringLiteral("就绪"));

        QMenu* system = menuOf(cmd::kStart);
        system->popup(Frame().mapToGlobal(QPoint(20, 20)));
        QTRY_VERIFY(system->isVisible());
        system->setActiveAction(Frame().MenuAction(cmd::kAppExit));
        QTRY_COMPARE(Pane(), QStringLiteral("退出应用程序；提示保存文档"));
        system->setActiveAction(Frame().MenuAction(cmd::kStart));
        QTRY_COMPARE(Pane(), QString());
        system->hide();
        QTRY_COMPARE(Pane(), QStringLiteral("就绪"));

        // The toolbar's About button: tip, and the prompt while the pointer rests on it.
        auto* button = qobject_cast<QToolButton*>(
            Frame().ToolBar()->widgetForAction(Frame().ToolBar()->actions().value(0)));
        QVERIFY(button != nullptr);
        QCOMPARE(button->toolTip(), QStringLiteral("关于"));
        QTest::mouseMove(button);
        QTRY_COMPARE(Pane(), QStringLiteral("显示程序信息，版本号和版权"));
        QTest::mouseMove(Frame().centralWidget());
        QTRY_COMPARE(Pane(), QStringLiteral("就绪"));
    }

    void viewTogglesFollowTheBars() {
        QToolBar* toolbar = Frame().ToolBar();
        QStatusBar* status = Frame().statusBar();
        QAction* toolbarItem = Frame().MenuAction(cmd::kViewToolbar);
        QAction* statusItem = Frame().MenuAction(cmd::kViewStatusBar);
        QCOMPARE(toolbar->objectName(), QStringLiteral("toolbar"));
        QVERIFY(toolbar->isVisible() && status->isVisible());

        const auto viewMenu = qobject_cast<QMenu*>(toolbarItem->parent());
        QVERIFY(viewMenu != nullptr);
        Q_EMIT viewMenu->aboutToShow();
        QVERIFY(toolbarItem->isChecked() && statusItem->isChecked());

        toolbarItem->trigger();
        QVERIFY(toolbar->isHidden());
        QVERIFY(!toolbarItem->isChecked());
        QVERIFY(!status->isHidden());
        QVERIFY(statusItem->isChecked());

        statusItem->trigger();
        QVERIFY(status->isHidden());
        QVERIFY(!statusItem->isChecked());

        toolbarItem->trigger();
        statusItem->trigger();
        QVERIFY(!toolbar->isHidden() && !status->isHidden());
        QVERIFY(toolbarItem->isChecked() && statusItem->isChecked());

        // A bar hidden some other way is unmarked by the time the menu shows.
        toolbar->hide();
        Q_EMIT viewMenu->aboutToShow();
        QVERIFY(!toolbarItem->isChecked());
    }

    void commandsReachTheViewAndNothingElseClaimsFreeIds() {
        CWinwardenView& view = m_fixture->View();
        m_fixture->TriggerMenu(cmd::kStart);
        QVERIFY(view.IsMonitoring());
        m_fixture->TriggerMenu(cmd::kStart); // twice is harmless
        QVERIFY(view.IsMonitoring());
        m_fixture->TriggerMenu(cmd::kStop);
        QVERIFY(!view.IsMonitoring());

        for (const int id : {cmd::kEditCopy, cmd::kEditCut, cmd::kEditPaste, cmd::kEditUndo,
                             cmd::kNextPane, cmd::kPrevPane}) {
            QVERIFY2(!Frame().RouteCommand(id), qPrintable(QString::number(id)));
        }
    }

    void exitClosesTheWindowAfterStoppingTheMonitor() {
        m_fixture->TriggerMenu(cmd::kStart);
        QVERIFY(Frame().isVisible());
        QVERIFY(
            !QAbstractEventDispatcher::instance()->registeredTimers(&m_fixture->View()).isEmpty());
        int exitCode = -2;
        QEventLoop loop;
        // Exit ends the run with status 0; a run that does not end fails the check.
        QTimer::singleShot(0, this, [this] { m_fixture->TriggerMenu(cmd::kAppExit); });
        QTimer::singleShot(5000, &loop, [&loop] { loop.exit(99); });
        exitCode = loop.exec();
        QCOMPARE(exitCode, 0);
        QVERIFY(!Frame().isVisible());
        // The monitor timer is gone before the store closes with the view.
        QVERIFY(
            QAbstractEventDispatcher::instance()->registeredTimers(&m_fixture->View()).isEmpty());
    }
};

QTEST_MAIN(TestMainFrame)
#include "test_mainframe.moc"
