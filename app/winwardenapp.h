#pragma once

#include "app/commandtarget.h"
#include "monitor/winwardenview.h"

#include <QObject>
#include <QSize>
#include <QStringList>
#include <memory>

namespace winwarden {

class CMainFrame;
class CWinwardenDoc;

// The application: the one document with its frame and view, start-up placement
// and the application-wide commands. Needs a QApplication to exist.
class CWinwardenApp final : public QObject, public CommandTarget {
    Q_OBJECT
public:
    static constexpr QSize kStartSize{800, 571};

    explicit CWinwardenApp(MonitorServices services = {});
    ~CWinwardenApp() override;

    // Creates the document, the main window and its view, opens the document named by the
    // first argument (a new one without arguments) and shows the window centred on the
    // screen. False when the document cannot be opened: no window is left then.
    bool InitInstance(const QStringList& arguments);

    // Handles About, New, Open and Exit.
    bool OnCmdMsg(int commandId) override;

    void OnAppAbout();
    void OnFileNew();
    void OnFileOpen();
    void OnAppExit();
    // Opens the file as the document; false (and no change) when it cannot be read.
    bool OpenDocumentFile(const QString& path);

    CWinwardenDoc* Document() const { return m_pDocument.get(); }
    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }

private:
    void PlaceMainWindow();

    MonitorServices m_services;
    std::unique_ptr<CWinwardenDoc> m_pDocument;
    std::unique_ptr<CMainFrame> m_pMainWnd; // declared last: destroyed before the document
};

} // namespace winwarden
