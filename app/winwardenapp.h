#pragma once

#include "app/commandtarget.h"
#include "store/rulestore.h"
#include "survey/browsersource.h"

#include <QObject>
#include <QSize>
#include <QStringList>
#include <memory>

namespace winwarden {

class CMainFrame;
class CWinwardenDoc;
class Monitor;
class MonitorEngine;

// What the program watches and where its rules are; tests put their own here.
struct MonitorServices {
    std::unique_ptr<BrowserSource> source; // null: the watched browsers
    QString databasePath = DatabaseNameFromEnvironment();
    // The system guard's control socket: when a guard answers there, the window is the guard's
    // and runs no engine of its own. Empty: never look for a guard.
    QString guardSocket;
};

// The application: the one document with its frame and view, start-up placement
// and the application-wide commands. Needs a QApplication to exist.
class CWinwardenApp final : public QObject, public CommandTarget {
    Q_OBJECT
public:
    static constexpr QSize kStartSize{800, 571};

    // The exit status of a run that could not open its rule database.
    static constexpr int kNoDatabaseStatus = -1;

    explicit CWinwardenApp(MonitorServices services = {});
    ~CWinwardenApp() override;

    // Reaches the system guard or, where none answers, opens the rule store; creates the
    // document, the main window and its view, opens the document named by the first argument
    // (a new one without arguments) and shows the window centred on the screen. False when the
    // rule store or the document cannot be opened: no window is left then, and FailureStatus()
    // is the exit status.
    bool InitInstance(const QStringList& arguments);
    int FailureStatus() const { return m_failureStatus; }

    // Handles About, New, Open and Exit.
    bool OnCmdMsg(int commandId) override;

    void OnAppAbout();
    void OnFileNew();
    void OnFileOpen();
    void OnAppExit();
    // Opens the file as the document; false (and no change) when it cannot be read.
    bool OpenDocumentFile(const QString& path);

    CWinwardenDoc* Document() const { return m_pDocument.get(); }
    Monitor* GetMonitor() const { return m_monitor.get(); }
    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }

private:
    void PlaceMainWindow();
    bool OpenRuleStore(MonitorEngine& engine);

    MonitorServices m_services;
    int m_failureStatus = 1;
    std::unique_ptr<Monitor> m_monitor;
    std::unique_ptr<CWinwardenDoc> m_pDocument;
    std::unique_ptr<CMainFrame> m_pMainWnd; // declared last: destroyed before the document
};

} // namespace winwarden
