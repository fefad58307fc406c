// The tray icon, minimising into it, and the lock-key indicators.
#include "app/appsettings.h"
#include "app/closenotifier.h"
#include "app/icons.h"
#include "app/lockkeys.h"
#include "app/mainframe.h"
#include "engine/monitor.h"
#include "res/strings.h"
#include "res/texts.h"

#include <QLabel>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindowStateChangeEvent>

namespace winwarden {

namespace {

constexpr int kLockPollMs = 250;

} // namespace

void CMainFrame::CreateTrayIcon() {
    m_trayIcon = new QSystemTrayIcon(AppIcon(), this);
    m_trayIcon->setObjectName(QStringLiteral("trayIcon"));
    m_trayIcon->setToolTip(text::kDocTitle);
    // Only a double-click does something; a click or the context button shows nothing.
    connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    ShowFromTray();
                }
            });
    m_trayIcon->show();

    // Where there is a tray, it says which pages went, so that a closed page is not taken for
    // a browser crash.
    auto* notifier = new CloseNotifier(
        [this](const QString& message) {
            if (QSystemTrayIcon::isSystemTrayAvailable() && QSystemTrayIcon::supportsMessages() &&
                NotifyClosedPages()) {
                m_trayIcon->showMessage(text::kClosedCaption, message, AppIcon(), 5000);
            }
        },
        this);
    connect(&m_pView->GetMonitor(), &Monitor::windowClosing, notifier,
            [notifier](const QString& title) { notifier->OnWindowClosing(title); });
    // What a browser source wants known (a browser that lost its extension) is told once, when
    // it appears; the status bar keeps it for as long as it lasts.
    connect(
        &m_pView->GetMonitor(), &Monitor::statusChanged, this, [this](const MonitorStatus& status) {
            for (const QString& notice : status.notices) {
                if (!m_toldNotices.contains(notice) && QSystemTrayIcon::isSystemTrayAvailable() &&
                    QSystemTrayIcon::supportsMessages()) {
                    m_trayIcon->showMessage(text::kClosedCaption, notice, QSystemTrayIcon::Warning,
                                            10000);
                }
            }
            m_toldNotices = status.notices;
        });
}

// Minimising hides the window behind the tray icon, taskbar entry included, and the monitor
// goes on. Without a tray there would be no way back, so the window then minimises as usual.
void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized() || m_bDestroyed ||
        !QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    m_restoreState = change->oldState() & ~Qt::WindowMinimized;
    m_bInTray = true;
    // Not from inside the state change itself: the window system is still applying it.
    QTimer::singleShot(0, this, &CMainFrame::HideToTray);
}

// The window keeps its minimised state while hidden: leaving that state asks the window
// system to map the window again, which, on a hidden window, leaves an empty frame on screen.
void CMainFrame::HideToTray() {
    if (m_bInTray) {
        hide();
    }
}

void CMainFrame::ShowFromTray() {
    if (m_bInTray) {
        m_bInTray = false;
        show();
        setWindowState(m_restoreState);
    } else if (isMinimized()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    raise();
    activateWindow();
}

void CMainFrame::UpdateLockIndicators() {
    const std::optional<LockKeyStates> states = QueryLockKeys();
    const bool on[] = {states && states->capsLock, states && states->numLock,
                       states && states->scrollLock};
    for (int i = 0; i < 3; ++i) {
        QLabel* pane = m_indicators[i];
        pane->setEnabled(states.has_value());
        pane->setText(on[i] ? pane->accessibleName() : QString());
    }
    if (states.has_value() && findChild<QTimer*>(QStringLiteral("lockKeyTimer")) == nullptr) {
        // The lock keys change wherever the keyboard focus is: look at them regularly.
        auto* timer = new QTimer(this);
        timer->setObjectName(QStringLiteral("lockKeyTimer"));
        connect(timer, &QTimer::timeout, this, &CMainFrame::UpdateLockIndicators);
        timer->start(kLockPollMs);
    }
}

} // namespace winwarden
