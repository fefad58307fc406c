#pragma once

#include "store/rulestore.h"
#include "store/storeerror.h"

#include <QBasicTimer>
#include <QHash>
#include <QString>
#include <QWidget>
#include <memory>

class QTableWidget;

namespace winwarden {

struct BrowserSnapshot;
class ShellWindows;
class TopLevelWindows;

// What the view watches and acts on. The defaults are the real browsers and the
// process-wide snapshot; tests put fakes here.
struct MonitorServices {
    ShellWindows* shellWindows = nullptr;       // null: the watched browsers
    TopLevelWindows* topLevelWindows = nullptr; // null: the watched browsers
    BrowserSnapshot* snapshot = nullptr;        // null: the process-wide snapshot
    QString databasePath = QString::fromLatin1(RuleStore::kDefaultFile);
};

// The one view of the main window: a list of windows seen while monitoring (the live list)
// or of stored rules of one flag (the rule list), the monitor timer and the user's commands.
class CWinwardenView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMonitorTimerId = 100;
    static constexpr int kMonitorPeriodMs = 2000;

    // Opens the rule store. When that fails, tells the user "连接数据库失败!   " and ends
    // the process with exit status -1.
    explicit CWinwardenView(QWidget* parent = nullptr, MonitorServices services = {});
    ~CWinwardenView() override;

    // Runs the command if the view handles it; false lets the next command target try.
    bool OnCmdMsg(int commandId);

    void OnInitialUpdate();
    void OnStart();
    void OnStop();
    void OnTimer(int timerId);
    void CheckWindowRule(QString title, QString url);
    void AddToLiveList(QString title, QString url);
    void OnDestroy();

    void LoadRuleList(QString filter);
    void OnShowBlocked();
    void OnShowPassed();
    void OnListDblClk();
    void OnDeleteWindow();
    void OnDownloadPage();
    void OnRefreshList();
    void OnShowStatus();

    bool IsMonitoring() const { return m_bMonitoring; }
    QTableWidget* ListControl() const { return m_wndList; }
    RuleStore& Store() { return m_store; }

Q_SIGNALS:
    // A failure the user should know of, for the status bar.
    void statusMessage(const QString& text);
    // Asks the document to show this title.
    void titleChanged(const QString& title);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    // Every change to the list's rows goes through these, so that the caption index
    // (column 0 text -> rows carrying it) always matches the list.
    void SetUpColumns();  // delete rows and columns, row height, three columns
    void InsertColumns(); // the three columns, into a list that has none
    void DeleteAllRows();
    int AppendRow(); // an empty row at the end; returns its index
    void SetCellText(int row, int column, const QString& text);
    QString CellText(int row, int column) const;
    bool IsCaptionListed(const QString& caption) const;
    int FirstSelectedRow() const; // lowest selected row, or -1
    // Reports a store failure once until a cycle or command succeeds again.
    void ReportStoreFailure(const QString& what, const StoreError& error);
    // A cycle or command reached the store again: the next failure is news.
    void ResetStoreFailure();

    QTableWidget* m_wndList = nullptr;
    bool m_bLayoutReady = false;
    bool m_bMonitoring = false;
    RuleStore m_store;
    int m_nLiveRows = 0;
    QBasicTimer m_monitorTimer;
    MonitorServices m_services;
    QHash<QString, int> m_captionIndex; // column-0 text -> how many rows carry it
    std::unique_ptr<ShellWindows> m_ownedShellWindows;
    std::unique_ptr<TopLevelWindows> m_ownedTopLevelWindows;
    bool m_bStoreFailureReported = false;
};

} // namespace winwarden
