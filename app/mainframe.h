#pragma once

#include "app/commandtarget.h"
#include "monitor/winwardenview.h"

#include <QHash>
#include <QMainWindow>
#include <QStringList>

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QSystemTrayIcon;
class QToolBar;

namespace winwarden {

class CWinwardenDoc;
class Monitor;

// The main window: menu, toolbar and status bar around the view, and the tray icon that
// stands in for the window while it is minimised.
class CMainFrame final : public QMainWindow, public CommandTarget {
    Q_OBJECT
public:
    // Creates the view over the engine, then the bars and the tray icon.
    // `app` is the last target of the command route.
    CMainFrame(CWinwardenDoc& document, CommandTarget& app, Monitor& monitor);
    ~CMainFrame() override;

    // Offers the command to the view, the document, the frame and the application, in
    // this order; true when one of them handled it.
    bool RouteCommand(int commandId);

    // Handles the bar toggles.
    bool OnCmdMsg(int commandId) override;

    CWinwardenView* View() const { return m_pView; }
    QToolBar* ToolBar() const { return m_wndToolBar; }
    QSystemTrayIcon* TrayIcon() const { return m_trayIcon; }
    // The menu item that sends the command, or null.
    QAction* MenuAction(int commandId) const { return m_menuActions.value(commandId); }

    // Brings the window back from the tray or from being minimised, as big as it was, and
    // activates it.
    void ShowFromTray();
    // True while the window is hidden behind the tray icon.
    bool IsInTray() const { return m_bInTray; }

Q_SIGNALS:
    // The window has been closed for good: the run is over.
    void closed();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void CreateAccelerators();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateTrayIcon();
    void OnDestroy();

    void UpdateCaption();
    void UpdateBarChecks();
    void ShowPrompt(const QString& prompt);
    void SetMessageText(const QString& text);
    void ShowIdleWhenMenusClose();
    void UpdateLockIndicators();
    void HideToTray();

    CWinwardenDoc& m_document;
    CommandTarget& m_app;
    CWinwardenView* m_pView = nullptr;
    QStatusBar* m_wndStatusBar = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    QSystemTrayIcon* m_trayIcon = nullptr;
    QLabel* m_messagePane = nullptr;
    QLabel* m_indicators[3] = {};
    QHash<int, QAction*> m_menuActions;
    Qt::WindowStates m_restoreState = Qt::WindowNoState;
    bool m_bInTray = false;
    QStringList m_toldNotices; // the sources' notices the tray has told of
    bool m_bDestroyed = false;
};

} // namespace winwarden
