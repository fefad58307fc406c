// The main window's menu, toolbar and status bar.
#include "app/icons.h"
#include "app/mainframe.h"
#include "app/monitorpane.h"
#include "res/commandids.h"
#include "res/menus.h"
#include "res/strings.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>

namespace winwarden {

void CMainFrame::CreateMenus() {
    for (const res::Menu& menuEntry : res::kMainMenu) {
        QMenu* menu = menuBar()->addMenu(menuEntry.caption.toString());
        for (const res::MenuItem& item : menuEntry.items) {
            if (item.IsSeparator()) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(item.caption.toString());
            const int commandId = item.commandId;
            action->setData(commandId);
            action->setStatusTip(res::CommandPrompt(commandId));
            if (commandId == cmd::kViewToolbar || commandId == cmd::kViewStatusBar) {
                action->setCheckable(true);
            }
            connect(action, &QAction::triggered, this,
                    [this, commandId] { RouteCommand(commandId); });
            m_menuActions.insert(commandId, action);
        }
        // A highlighted item shows its prompt, one without a prompt an empty pane.
        connect(menu, &QMenu::hovered, this, [this](QAction* action) {
            SetMessageText(res::CommandPrompt(action->data().toInt()));
        });
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateBarChecks);
        connect(menu, &QMenu::aboutToHide, this, &CMainFrame::ShowIdleWhenMenusClose);
    }
}

void CMainFrame::CreateToolBar() {
    m_wndToolBar = new QToolBar(this);
    m_wndToolBar->setObjectName(QStringLiteral("toolbar"));
    m_wndToolBar->setWindowTitle(res::CommandTip(cmd::kViewToolbar));
    m_wndToolBar->setIconSize(QSize(16, 16));
    m_wndToolBar->setMovable(true);
    m_wndToolBar->setFloatable(true);
    m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    for (const int commandId : res::kToolbarButtons) {
        auto* action = new QAction(AboutIcon(), res::CommandTip(commandId), m_wndToolBar);
        action->setObjectName(QStringLiteral("aboutButton"));
        action->setData(commandId);
        action->setToolTip(res::CommandTip(commandId));
        action->setStatusTip(res::CommandPrompt(commandId));
        connect(action, &QAction::triggered, this, [this, commandId] { RouteCommand(commandId); });
        m_wndToolBar->addAction(action);
    }
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
    connect(m_wndToolBar, &QToolBar::visibilityChanged, this, &CMainFrame::UpdateBarChecks);
}

void CMainFrame::CreateStatusBar() {
    m_wndStatusBar = new QStatusBar(this);
    m_wndStatusBar->setObjectName(QStringLiteral("statusbar"));
    setStatusBar(m_wndStatusBar);

    m_messagePane = new QLabel(m_wndStatusBar);
    m_messagePane->setObjectName(QStringLiteral("messagePane"));
    m_messagePane->setTextFormat(Qt::PlainText);
    m_wndStatusBar->addWidget(m_messagePane, 1);

    auto* monitorPane = new MonitorPane(m_wndStatusBar);
    monitorPane->Show(m_pView->GetMonitor().Status());
    connect(&m_pView->GetMonitor(), &Monitor::statusChanged, monitorPane, &MonitorPane::Show);
    m_wndStatusBar->addPermanentWidget(monitorPane);

    const int ids[] = {res::kIdsCapsLock, res::kIdsNumLock, res::kIdsScrollLock};
    const char* names[] = {"capsLockIndicator", "numLockIndicator", "scrollLockIndicator"};
    for (int i = 0; i < 3; ++i) {
        const QString label = res::LoadString(ids[i]).toString();
        auto* pane = new QLabel(m_wndStatusBar);
        pane->setObjectName(QString::fromLatin1(names[i]));
        pane->setAccessibleName(label);
        pane->setAlignment(Qt::AlignCenter);
        pane->setFrameShape(QFrame::StyledPanel);
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(label) + 12);
        m_wndStatusBar->addPermanentWidget(pane);
        m_indicators[i] = pane;
    }
    UpdateLockIndicators();
    ShowPrompt(QString());
}

void CMainFrame::UpdateBarChecks() {
    if (QAction* action = m_menuActions.value(cmd::kViewToolbar)) {
        action->setChecked(!m_wndToolBar->isHidden());
    }
    if (QAction* action = m_menuActions.value(cmd::kViewStatusBar)) {
        action->setChecked(!m_wndStatusBar->isHidden());
    }
}

void CMainFrame::SetMessageText(const QString& text) {
    m_messagePane->setText(text);
}

// An empty prompt means the pointer left a button or the menus closed: back to idle. While
// a menu is open it means an item without a prompt is highlighted: the pane stays empty.
void CMainFrame::ShowPrompt(const QString& prompt) {
    if (!prompt.isEmpty()) {
        SetMessageText(prompt);
    } else if (qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr) {
        SetMessageText(QString());
    } else {
        SetMessageText(res::LoadString(res::kIdsIdleMessage).toString());
    }
}

// Moving from one drop-down menu to the next hides one before showing the other: look
// once the menus have settled.
void CMainFrame::ShowIdleWhenMenusClose() {
    QTimer::singleShot(0, this, [this] {
        if (QApplication::activePopupWidget() == nullptr) {
            ShowPrompt(QString());
        }
    });
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        ShowPrompt(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

} // namespace winwarden
