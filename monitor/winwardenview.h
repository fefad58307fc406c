#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QWidget>
#include <optional>

class QLineEdit;
class QTableWidget;

namespace winwarden {

class CVisitsDlg;
class Monitor;
struct SeenWindow;

// The one view of the main window: a list of windows seen while monitoring (the live list)
// or of stored rules of one flag (the rule list), and the user's commands. The monitor
// decides; the view shows what it reports and passes the user's commands on.
class CWinwardenView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMonitorTimerId = 100;
    // Longer captions and addresses are drawn cut to this length; the cell keeps the whole
    // text for the flag dialog and the commands.
    static constexpr int kMaxDrawnChars = 1024;

    explicit CWinwardenView(Monitor& monitor, QWidget* parent = nullptr);
    ~CWinwardenView() override;

    // Runs the command if the view handles it; false lets the next command target try.
    bool OnCmdMsg(int commandId);

    void OnInitialUpdate();
    void OnStart();
    void OnStop();
    void OnTimer(int timerId);
    void AddToLiveList(const SeenWindow& window);
    void OnDestroy();

    void LoadRuleList(const QString& filter);
    void OnShowBlocked();
    void OnShowPassed();
    void OnListDblClk();
    void OnDeleteWindow();
    void OnDownloadPage();
    void OnRefreshList();
    void OnShowStatus();
    void OnAddRule();
    // The match rules (网站, 标题包含, 全部网页) in the list, with their own flag change and
    // delete, their times and today's use of their allowances.
    void LoadMatchRuleList();
    void OnShowMatchRules();
    // Blocks the site of the selected row's page in one step.
    void OnBlockSite();
    // 窗口 → 访问记录: the visit record's window, opened once and raised after.
    void OnShowVisits();
    // "禁止这个网站" for a host given by name (the visit record's sites).
    void BlockSite(const QString& host);
    CVisitsDlg* VisitsWindow() const { return m_visits; }
    // Shows the filter above the list and puts the cursor in it.
    void OnFind();

    bool IsMonitoring() const;
    QTableWidget* ListControl() const { return m_wndList; }
    QLineEdit* FilterEdit() const { return m_filterEdit; }
    Monitor& GetMonitor() const { return m_monitor; }
    const QString& CurrentFilter() const { return m_strFilter; }
    // The whole text of a cell, however it is drawn.
    QString CellText(int row, int column) const;
    // The page title or rule name of a row, as its rule holds it (null for a rule without one).
    QString RowTitle(int row) const;

Q_SIGNALS:
    // A failure the user should know of, for the status bar.
    void statusMessage(const QString& text);
    // Asks the document to show this title.
    void titleChanged(const QString& title);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Every change to the list's rows goes through these, so that the caption index
    // (column-0 text -> the first row carrying it) always matches the list.
    // Delete rows and columns, row height, three columns: a page's or a rule's (caption,
    // flag, address), or five of a match rule's (text, flag, kind, times, today's use).
    void SetUpColumns(bool matchRules);
    void InsertColumns(); // the columns, into a list that has none
    void DeleteAllRows();
    int AppendRow(); // an empty row at the end; returns its index
    // In column 0 with `title`: the title the row's rule holds (the text is what is shown).
    void SetCellText(int row, int column, const QString& text,
                     const std::optional<QString>& title = std::nullopt);
    // A live row's flag cell: the flag as shown, and the page's own rule's flag behind it.
    void SetFlagCell(int row, const QString& shown, const QString& own);
    QString RowFlag(int row) const;  // the own flag, for the flag dialog
    int FirstSelectedRow() const;    // lowest selected row, or -1
    qint64 RowRuleId(int row) const; // a match-list row's rule
    // The match list's column of today's use, from what the monitor holds in memory; after a
    // cycle only every few seconds.
    void UpdateUseColumn();
    void OnCycleFinished();
    void OnMatchRuleDblClk(int row);
    void OnDeleteMatchRule(int row);
    bool EnsureMatchTable();
    void AddMatchRule(const QString& kind, const QString& text, const QString& flag,
                      const QString& times);
    // `times`, when given, become the rule's (empty: always); otherwise they stay as they are.
    void PutMatchRule(const QString& kind, const QString& text, const QString& flag, bool ask,
                      const QString& what, const std::optional<QString>& times = std::nullopt);
    QString ColumnsKey() const;     // where the list's column widths are kept
    CVisitsDlg* m_visits = nullptr; // 访问记录, once opened
    bool m_restoringWidths = false;
    void LayOut();
    void FitCaptionColumn();
    void ApplyFilter(int row); // hides the row unless it matches the filter
    void ApplyFilter();
    void CloseFilter();

    Monitor& m_monitor;
    QTableWidget* m_wndList = nullptr;
    QLineEdit* m_filterEdit = nullptr;
    bool m_bLayoutReady = false;
    QString m_strFilter;
    bool m_matchList = false;         // the list shows the match rules
    QElapsedTimer m_useShown;         // since the use column was last filled
    QHash<QString, int> m_captionRow; // column-0 text -> the first row carrying it
};

} // namespace winwarden
