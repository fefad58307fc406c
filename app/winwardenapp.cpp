#include "app/winwardenapp.h"

#include "app/aboutdlg.h"
#include "app/appsettings.h"
#include "app/browsersources.h"
#include "app/mainframe.h"
#include "app/winwardendoc.h"
#include "control/guardmonitor.h"
#include "engine/monitorengine.h"
#include "monitor/messagebox.h"
#include "platform/programlog.h"
#include "res/commandids.h"
#include "res/strings.h"
#include "res/texts.h"
#include "res/version.h"
#include "store/databasename.h"
#include "store/storeerror.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QScreen>
#include <QSystemTrayIcon>

namespace winwarden {

CWinwardenApp::CWinwardenApp(MonitorServices services) : m_services(std::move(services)) {}

CWinwardenApp::~CWinwardenApp() = default;

bool CWinwardenApp::InitInstance(const QStringList& arguments) {
    SetUpSettings();
    QCoreApplication::setApplicationVersion(QString::fromLatin1(res::kVersion));
    // Ties the window to the installed desktop entry (its icon and name in task switchers).
    QGuiApplication::setDesktopFileName(QStringLiteral("winwarden"));
    // Dialogs and the tray must not end the run; only closing the main window does.
    QApplication::setQuitOnLastWindowClosed(false);

    // Where a system guard monitors, the window is the guard's: it shows what the guard sees,
    // with the guard's rules, and watches nothing itself.
    if (!m_services.guardSocket.isEmpty()) {
        auto guard = std::make_unique<GuardMonitor>(m_services.guardSocket);
        if (guard->Connect()) {
            m_monitor = std::move(guard);
        }
    }
    if (!m_monitor) {
        // Nothing can run without the rules: the user hears of it before any window exists.
        auto engine = std::make_unique<MonitorEngine>(
            m_services.source ? std::move(m_services.source) : MakeWatchedBrowsers());
        if (!OpenRuleStore(*engine)) {
            m_failureStatus = kNoDatabaseStatus;
            return false;
        }
        m_monitor = std::move(engine);
    }

    m_pDocument = std::make_unique<CWinwardenDoc>();
    m_pMainWnd = std::make_unique<CMainFrame>(*m_pDocument, *this, *m_monitor);

    // The program's own options; what is left names the document.
    QStringList rest = arguments;
    // The guard's window has nothing to start: the guard monitors all along, so its live list
    // shows at once.
    const bool monitor = rest.removeAll(QStringLiteral("--monitor")) > 0 || MonitorAtLaunch() ||
                         qobject_cast<GuardMonitor*>(m_monitor.get()) != nullptr;
    const bool toTray = rest.removeAll(QStringLiteral("--tray")) > 0;
    const QString path = rest.value(0);
    const bool ready =
        path.isEmpty() ? m_pDocument->OnNewDocument() : m_pDocument->OnOpenDocument(path);
    if (!ready) {
        if (!path.isEmpty()) {
            LogLine(QStringLiteral("打开文档失败：%1").arg(path));
        }
        m_pMainWnd.reset();
        return false;
    }
    m_pMainWnd->View()->OnInitialUpdate();
    // Placed before it is first shown: a window manager still mapping the window at its
    // first size may apply that size after a later placement, leaving a window of a few lines.
    PlaceMainWindow();
    m_pMainWnd->show();
    if (monitor) {
        m_pMainWnd->RouteCommand(cmd::kStart);
    }
    // Started at login: straight into the tray, where there is one.
    if (toTray && QSystemTrayIcon::isSystemTrayAvailable()) {
        m_pMainWnd->setWindowState(m_pMainWnd->windowState() | Qt::WindowMinimized);
    }
    connect(m_pMainWnd.get(), &CMainFrame::closed, this, [] { QCoreApplication::exit(0); });
    return true;
}

bool CWinwardenApp::OpenRuleStore(MonitorEngine& engine) {
    try {
        engine.SetKeepHistoryDays(KeepHistoryDays());
        engine.OpenStore(m_services.databasePath);
        return true;
    } catch (const StoreError& error) {
        // The box has room for one sentence; the terminal gets what a user needs to mend it.
        // A file is named by its full path; a server by its address, without any password.
        const QString& name = m_services.databasePath;
        const QString path = ParseDatabaseName(name).engine == DatabaseLocation::Engine::Sqlite
                                 ? QDir::current().absoluteFilePath(name)
                                 : DatabaseDisplayName(name);
        LogLine(QStringLiteral("无法打开规则数据库 %1：%2").arg(path, error.message()));
        LogLine(QStringLiteral("创建一个新的规则数据库：winwarden-db create '%1'").arg(path));
        RunMessageBox(nullptr, QMessageBox::Critical, text::kAppName, text::kOpenDbFailed,
                      QMessageBox::Ok, "openDbFailedBox");
        return false;
    }
}

// The outer size is fixed, decorations included, and the window is centred in the screen's
// work area and kept inside it.
void CWinwardenApp::PlaceMainWindow() {
    CMainFrame& frame = *m_pMainWnd;
    const QSize decorations = frame.frameGeometry().size() - frame.geometry().size();
    frame.resize(kStartSize - decorations);

    const QScreen* screen =
        frame.screen() != nullptr ? frame.screen() : QGuiApplication::primaryScreen();
    const QRect area =
        screen != nullptr ? screen->availableGeometry() : QRect(QPoint(0, 0), kStartSize);
    QPoint topLeft(area.left() + (area.width() - kStartSize.width()) / 2,
                   area.top() + (area.height() - kStartSize.height()) / 2);
    topLeft.setX(
        std::max(area.left(), std::min(topLeft.x(), area.right() + 1 - kStartSize.width())));
    topLeft.setY(
        std::max(area.top(), std::min(topLeft.y(), area.bottom() + 1 - kStartSize.height())));
    frame.move(topLeft);
}

bool CWinwardenApp::OnCmdMsg(int commandId) {
    switch (commandId) {
    case cmd::kAppAbout:
        OnAppAbout();
        return true;
    case cmd::kFileNew:
        OnFileNew();
        return true;
    case cmd::kFileOpen:
        OnFileOpen();
        return true;
    case cmd::kAppExit:
        OnAppExit();
        return true;
    default:
        return false;
    }
}

void CWinwardenApp::OnAppAbout() {
    CAboutDlg dialog(m_pMainWnd.get());
    dialog.exec();
}

void CWinwardenApp::OnFileNew() {
    if (!m_pDocument->OnNewDocument()) {
        return;
    }
    m_pMainWnd->View()->OnInitialUpdate();
}

void CWinwardenApp::OnFileOpen() {
    const QString path = QFileDialog::getOpenFileName(m_pMainWnd.get());
    if (path.isEmpty()) {
        return;
    }
    if (!OpenDocumentFile(path)) {
        RunMessageBox(m_pMainWnd.get(), QMessageBox::Warning, QCoreApplication::applicationName(),
                      res::kFailedToOpenDoc + u'\n' + path, QMessageBox::Ok, "openFailedBox");
    }
}

bool CWinwardenApp::OpenDocumentFile(const QString& path) {
    if (!m_pDocument->OnOpenDocument(path)) {
        return false;
    }
    m_pMainWnd->View()->OnInitialUpdate();
    return true;
}

void CWinwardenApp::OnAppExit() {
    if (m_pMainWnd != nullptr) {
        m_pMainWnd->close();
    }
}

} // namespace winwarden
