// The main window's life: creation, the command route, the caption and shut-down.
#include "app/mainframe.h"

#include "app/icons.h"
#include "app/winwardendoc.h"
#include "res/accelerators.h"
#include "res/commandids.h"
#include "res/strings.h"

#include <QAction>
#include <QCloseEvent>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>

namespace winwarden {

CMainFrame::CMainFrame(CWinwardenDoc& document, CommandTarget& app, Monitor& monitor)
    : m_document(document), m_app(app) {
    setObjectName(QStringLiteral("mainFrame"));
    setWindowIcon(AppIcon());

    m_pView = new CWinwardenView(monitor, this);
    m_pView->setObjectName(QStringLiteral("view"));
    setCentralWidget(m_pView);

    CreateMenus();
    CreateAccelerators();
    CreateToolBar();
    CreateStatusBar();
    CreateTrayIcon();

    m_document.SetDialogParent(this);
    connect(&m_document, &CWinwardenDoc::titleChanged, this, &CMainFrame::UpdateCaption);
    connect(m_pView, &CWinwardenView::titleChanged, &m_document, &CWinwardenDoc::SetTitle);
    connect(m_pView, &CWinwardenView::statusMessage, this, &CMainFrame::SetMessageText);
    UpdateCaption();
}

CMainFrame::~CMainFrame() {
    OnDestroy();
    m_document.SetDialogParent(nullptr);
}

bool CMainFrame::RouteCommand(int commandId) {
    if (m_pView != nullptr && m_pView->OnCmdMsg(commandId)) {
        return true;
    }
    if (m_document.OnCmdMsg(commandId)) {
        return true;
    }
    if (OnCmdMsg(commandId)) {
        return true;
    }
    return m_app.OnCmdMsg(commandId);
}

bool CMainFrame::OnCmdMsg(int commandId) {
    switch (commandId) {
    case cmd::kViewToolbar:
        m_wndToolBar->setVisible(m_wndToolBar->isHidden());
        break;
    case cmd::kViewStatusBar:
        m_wndStatusBar->setVisible(m_wndStatusBar->isHidden());
        break;
    default:
        return false;
    }
    UpdateBarChecks();
    return true;
}

// Every key of the accelerator table belongs to the window: it is taken before the focused
// widget sees it, so that keys whose command nothing handles (Ctrl+C in the list) do nothing.
void CMainFrame::CreateAccelerators() {
    for (const res::Accelerator& accelerator : res::kAccelerators) {
        auto* action = new QAction(this);
        action->setShortcut(QKeySequence(accelerator.key));
        action->setShortcutContext(Qt::WindowShortcut);
        action->setData(accelerator.commandId);
        const int commandId = accelerator.commandId;
        connect(action, &QAction::triggered, this, [this, commandId] { RouteCommand(commandId); });
        addAction(action);
    }
}

void CMainFrame::UpdateCaption() {
    setWindowTitle(m_document.GetTitle() + QStringLiteral(" - ") +
                   res::LoadString(res::kIdsAppTitle).toString());
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    OnDestroy();
    event->accept();
    Q_EMIT closed();
}

// The tray icon goes first, then the monitor timer stops; the rule store closes only
// when the view itself is destroyed after this.
void CMainFrame::OnDestroy() {
    if (m_bDestroyed) {
        return;
    }
    m_bDestroyed = true;
    if (m_trayIcon != nullptr) {
        m_trayIcon->hide();
    }
    if (m_pView != nullptr) {
        m_pView->OnDestroy();
    }
}

} // namespace winwarden
