// The user's commands on the list: rule lists, flag changes, deletes, status.
#include "engine/monitor.h"
#include "match/normalize.h"
#include "match/schedule.h"
#include "monitor/addruledlg.h"
#include "monitor/allowanceuse.h"
#include "monitor/messagebox.h"
#include "monitor/visitsdlg.h"
#include "monitor/windowflagdlg.h"
#include "monitor/winwardenview.h"
#include "res/texts.h"
#include "store/flag.h"
#include "store/storeerror.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QList>
#include <QMessageBox>
#include <QPalette>
#include <QPointer>
#include <QTableWidget>
#include <QUrl>
#include <array>
#include <optional>
#include <unistd.h>

namespace winwarden {
namespace {

// Times as the store keeps them, from times the dialog has checked.
QString ScheduleShown(const QString& times) {
    const std::optional<Schedule> schedule = ParseSchedule(times, nullptr);
    return schedule ? ScheduleText(*schedule) : QString();
}

// Grid lines, whole-row selection and the list's own light lavender behind rows and text.
void ApplyListStyle(QTableWidget& list) {
    list.setShowGrid(true);
    list.setSelectionBehavior(QAbstractItemView::SelectRows);
    const QColor background(220, 220, 240);
    QPalette palette = list.palette();
    palette.setColor(QPalette::Base, background);
    palette.setColor(QPalette::AlternateBase, background);
    list.setPalette(palette);
}

// The view's boxes carry the prompt caption.
QMessageBox::StandardButton RunBox(QWidget* owner, QMessageBox::Icon icon, const QString& message,
                                   QMessageBox::StandardButtons buttons, const char* name) {
    return RunMessageBox(owner, icon, text::kPromptCaption, message, buttons, name);
}

void ReportCommandFailure(QWidget* owner, const QString& what, const QString& message) {
    RunBox(owner, QMessageBox::Warning, what + message, QMessageBox::Ok, "storeFailureBox");
}

// A match-list row's rule key, on its first cell.
constexpr int kRuleIdRole = Qt::UserRole + 4;

// A change the monitor would refuse is refused before any dialog asks for it: the monitor
// decided who may change rules, and checks again when it applies one.
bool RefusedToChange(QWidget* owner, const Monitor& monitor, const QString& what) {
    if (monitor.MayChangeRules())
        return false;
    ReportCommandFailure(owner, what, text::kRulesForAdministratorsOnly);
    return true;
}

} // namespace

void CWinwardenView::OnInitialUpdate() {
    // The frame keeps the size the user gave it: fitting it to the list's tiny form, as a new
    // document would, collapses the window to a few pixels. While monitoring, the live list
    // stays in sight and keeps filling.
    m_bLayoutReady = true;
    LayOut();
    if (!IsMonitoring())
        m_wndList->hide();
    ApplyListStyle(*m_wndList);
    Q_EMIT titleChanged(text::kDocTitle);
}

void CWinwardenView::LoadRuleList(const QString& filter) {
    // Everything is read before the list is touched, so a failing store leaves the list as
    // it was.
    std::vector<Rule> rules;
    try {
        rules = m_monitor.ListByFlag(filter);
    } catch (const StoreError& error) {
        ReportCommandFailure(this, text::kLoadRulesFailed, error.message());
        return;
    }

    m_wndList->show();
    SetUpColumns(false);
    m_wndList->setAccessibleName(text::kRuleListName.arg(filter));
    ApplyListStyle(*m_wndList);
    for (const Rule& rule : rules) {
        const int row = AppendRow();
        // A rule is no window of any browser: it is listed by the title it holds.
        if (rule.name)
            SetCellText(row, 0, *rule.name, *rule.name);
        if (rule.flag)
            SetCellText(row, 1, *rule.flag);
        if (rule.url)
            SetCellText(row, 2, *rule.url);
        ApplyFilter(row);
    }
}

void CWinwardenView::OnShowBlocked() {
    m_strFilter = kFlagBlock;
    LoadRuleList(m_strFilter);
}

void CWinwardenView::OnShowPassed() {
    m_strFilter = kFlagPass;
    LoadRuleList(m_strFilter);
}

void CWinwardenView::OnListDblClk() {
    const int row = FirstSelectedRow();
    if (row < 0 || RefusedToChange(this, m_monitor, text::kSetFlagFailed))
        return;
    if (m_matchList) {
        OnMatchRuleDblClk(row);
        return;
    }
    QPointer<CWinwardenView> self(this);
    QPointer<CWindowFlagDlg> dialog = new CWindowFlagDlg(window());
    dialog->m_strWindowName = CellText(row, 0);
    // The page's own rule is what the dialog changes, whatever match rule decides for it.
    dialog->m_strFlag = RowFlag(row);
    dialog->m_strUrl = CellText(row, 2);
    const QString name = RowTitle(row);
    const QString rowUrl = dialog->m_strUrl;
    const int result = dialog->exec();
    if (!dialog)
        return; // it went with the main window while it was open
    const QString flag = dialog->m_strFlag;
    const QString url = dialog->m_strUrl;
    delete dialog.data();
    if (!self || result != CWindowFlagDlg::kResultOk)
        return;

    // The change reaches the rules with the row's URL and the rule that decides for the
    // row's title, which may have been stored under another address; a row without an address
    // reaches that one rule only. Stored first: the list must not show a flag the store refused.
    try {
        if (m_monitor.SetFlagForWindow(flag, name, url) == 0) {
            ReportCommandFailure(this, text::kSetFlagFailed, text::kNoRuleForWindow);
            return;
        }
    } catch (const StoreError& error) {
        ReportCommandFailure(this, text::kSetFlagFailed, error.message());
        return;
    }
    // Ticks only append, so the row index still names the row; it is checked all the same,
    // since a reload meanwhile would put another rule there.
    if (row < m_wndList->rowCount() && CellText(row, 2) == rowUrl)
        SetFlagCell(row, flag, flag);
}

void CWinwardenView::OnDeleteWindow() {
    const int row = FirstSelectedRow();
    if (row < 0) {
        RunBox(this, QMessageBox::Information, text::kSelectWindow, QMessageBox::Ok,
               "selectWindowBox");
        return;
    }
    if (RefusedToChange(this, m_monitor, text::kDeleteRuleFailed))
        return;
    if (m_matchList) {
        OnDeleteMatchRule(row);
        return;
    }
    const QString caption = CellText(row, 0);
    const QString name = RowTitle(row);
    const QString url = CellText(row, 2);
    QPointer<CWinwardenView> self(this);
    // One arg() call: a "%2" inside the name stays as the user sees it.
    const auto answer = RunBox(this, QMessageBox::Question, text::kConfirmDelete.arg(caption, url),
                               QMessageBox::Ok | QMessageBox::Cancel, "confirmDeleteBox");
    if (!self || answer != QMessageBox::Ok)
        return;
    try {
        m_monitor.DeleteRule(name, url);
    } catch (const StoreError& error) {
        ReportCommandFailure(this, text::kDeleteRuleFailed, error.message());
        return;
    }
    LoadRuleList(m_strFilter);
}

void CWinwardenView::OnAddRule() {
    if (RefusedToChange(this, m_monitor, text::kAddRuleFailed))
        return;
    QPointer<CWinwardenView> self(this);
    QPointer<CAddRuleDlg> dialog = new CAddRuleDlg(window());
    const int result = dialog->exec();
    if (!dialog)
        return;
    const QString kind = dialog->Kind();
    const QString name = dialog->WindowName();
    const QString url = dialog->Url();
    const QString flag = dialog->Flag();
    const QString times = dialog->Times();
    delete dialog.data();
    if (!self || result != QDialog::Accepted)
        return;
    if (kind != kKindTitle) {
        AddMatchRule(kind, name, flag, times);
        return;
    }
    if (name.isEmpty()) {
        RunBox(this, QMessageBox::Information, text::kAddRuleEmptyName, QMessageBox::Ok,
               "emptyNameBox");
        return;
    }
    try {
        // One name, one rule: a name that has one is offered a change of flag instead.
        if (const std::optional<Rule> rule = m_monitor.FindByName(name)) {
            const QString held = rule->flag.value_or(QString());
            const auto answer =
                RunBox(this, QMessageBox::Question, text::kAddRuleExists.arg(name, held, flag),
                       QMessageBox::Ok | QMessageBox::Cancel, "ruleExistsBox");
            if (!self || answer != QMessageBox::Ok)
                return;
            m_monitor.SetFlagForWindow(flag, name, QString()); // that rule, no other
        } else {
            m_monitor.AddRule(name, url, flag);
        }
    } catch (const StoreError& error) {
        ReportCommandFailure(this, text::kAddRuleFailed, error.message());
        return;
    }
    // A rule list on show gains the rule; the live list only lists what is open.
    if (!IsMonitoring() && !m_wndList->isHidden())
        LoadRuleList(m_strFilter);
}

void CWinwardenView::OnDownloadPage() {
    if (!QDesktopServices::openUrl(QUrl(text::kDownloadPageUrl)))
        ReportUnopenedLink(this, text::kDownloadPageUrl);
}

void CWinwardenView::OnRefreshList() {
    if (!IsMonitoring())
        return;
    // Back from the match rules to the live list, whose columns they do not share.
    if (m_matchList) {
        SetUpColumns(false);
        m_wndList->setAccessibleName(text::kLiveListName);
    } else {
        DeleteAllRows();
    }
}

void CWinwardenView::OnShowStatus() {
    RunBox(this, QMessageBox::Information,
           IsMonitoring() ? text::kStatusRunning : text::kStatusStopped, QMessageBox::Ok,
           "statusBox");
}

// The match rules in the same list: text, flag, kind, times and today's use, each row knowing its
// rule's key.
void CWinwardenView::LoadMatchRuleList() {
    std::vector<MatchRuleRow> rules;
    try {
        rules = m_monitor.ListMatchRules();
    } catch (const StoreError& error) {
        ReportCommandFailure(this, text::kLoadRulesFailed, error.message());
        return;
    }
    m_wndList->show();
    SetUpColumns(true);
    m_wndList->setAccessibleName(text::kMatchListName);
    ApplyListStyle(*m_wndList);
    for (const MatchRuleRow& rule : rules) {
        const int row = AppendRow();
        SetCellText(row, 0, rule.text.value_or(QString()));
        m_wndList->item(row, 0)->setData(kRuleIdRole, rule.id);
        SetCellText(row, 1, rule.flag.value_or(QString()));
        SetCellText(row, 2, rule.kind.value_or(QString()));
        SetCellText(row, 3, rule.times.value_or(QString()));
        ApplyFilter(row);
    }
    UpdateUseColumn();
}

void CWinwardenView::UpdateUseColumn() {
    if (!m_matchList)
        return;
    m_useShown.start();
    std::vector<AllowanceUse> uses;
    try {
        uses = m_monitor.AllowanceUses();
    } catch (const StoreError&) {
        return; // the column stays as it was until the next look
    }
    const auto viewer = static_cast<qint64>(::getuid());
    for (int row = 0; row < m_wndList->rowCount(); ++row) {
        const std::optional<Schedule> schedule = ParseSchedule(CellText(row, 3), nullptr);
        const QString shown =
            AllowanceUseText(uses, RowRuleId(row), schedule ? schedule->allowance : 0, viewer);
        if (CellText(row, 4) != shown)
            SetCellText(row, 4, shown);
    }
}

void CWinwardenView::OnCycleFinished() {
    // Use grows by the minute: a look every few seconds is plenty, and the list stays still.
    constexpr qint64 kUseRefreshMs = 3000;
    if (m_matchList && (!m_useShown.isValid() || m_useShown.elapsed() >= kUseRefreshMs))
        UpdateUseColumn();
}

void CWinwardenView::OnShowMatchRules() {
    LoadMatchRuleList();
}

// The rule the match list's row lists, found by its key again: a reload meanwhile may have
// put another rule in that row.
qint64 CWinwardenView::RowRuleId(int row) const {
    const QTableWidgetItem* item = m_wndList->item(row, 0);
    return item ? item->data(kRuleIdRole).toLongLong() : 0;
}

void CWinwardenView::OnMatchRuleDblClk(int row) {
    const qint64 id = RowRuleId(row);
    QPointer<CWinwardenView> self(this);
    QPointer<CWindowFlagDlg> dialog = new CWindowFlagDlg(window());
    dialog->m_strWindowName = CellText(row, 2) + u' ' + CellText(row, 0);
    dialog->m_strFlag = RowFlag(row);
    const QString heldTimes = CellText(row, 3);
    dialog->ShowTimes(heldTimes, CellText(row, 2));
    const int result = dialog->exec();
    if (!dialog)
        return;
    const QString flag = dialog->m_strFlag;
    const QString times = dialog->Times();
    delete dialog.data();
    if (!self || result != CWindowFlagDlg::kResultOk)
        return;
    QString stored = heldTimes;
    try {
        if (m_monitor.SetMatchRuleFlag(id, flag) == 0) {
            ReportCommandFailure(this, text::kSetFlagFailed, text::kNoRuleForWindow);
            return;
        }
        if (times != heldTimes) {
            m_monitor.SetMatchRuleTimes(id, times);
            stored = ScheduleShown(times);
        }
    } catch (const StoreError& error) {
        ReportCommandFailure(this, text::kSetFlagFailed, error.message());
        return;
    }
    if (m_matchList && row < m_wndList->rowCount() && RowRuleId(row) == id) {
        SetCellText(row, 1, flag);
        SetCellText(row, 3, stored);
        UpdateUseColumn(); // the allowance may have changed with the times
    }
}

void CWinwardenView::OnDeleteMatchRule(int row) {
    const qint64 id = RowRuleId(row);
    QPointer<CWinwardenView> self(this);
    const QString rule = CellText(row, 2) + u' ' + CellText(row, 0);
    const auto answer =
        RunBox(this, QMessageBox::Question, text::kConfirmDelete.arg(rule, QString()),
               QMessageBox::Ok | QMessageBox::Cancel, "confirmDeleteBox");
    if (!self || answer != QMessageBox::Ok)
        return;
    try {
        m_monitor.DeleteMatchRule(id);
    } catch (const StoreError& error) {
        ReportCommandFailure(this, text::kDeleteRuleFailed, error.message());
        return;
    }
    LoadMatchRuleList();
}

// An older database has no table for match rules: the user is asked before it is added.
// False when the user said no (or the view went meanwhile). Throws StoreError.
bool CWinwardenView::EnsureMatchTable() {
    if (m_monitor.HasMatchTable())
        return true;
    QPointer<CWinwardenView> self(this);
    const auto answer = RunBox(this, QMessageBox::Question, text::kMatchTableMissing,
                               QMessageBox::Ok | QMessageBox::Cancel, "addMatchTableBox");
    if (!self || answer != QMessageBox::Ok)
        return false;
    m_monitor.AddMatchTable();
    return true;
}

void CWinwardenView::AddMatchRule(const QString& kind, const QString& text, const QString& flag,
                                  const QString& times) {
    // Text that means nothing is refused before anything is asked or changed.
    QString refusal;
    if (text.trimmed().isEmpty())
        refusal = kind == kKindSite ? text::kAddRuleEmptySite : text::kAddRuleEmptyWords;
    else if (kind == kKindSite && !CanonicalHost(text))
        refusal = text::kMatchNotAHost.arg(text.trimmed());
    else if (kind == kKindTitleWord && NormalizeTitle(text).isEmpty())
        refusal = text::kMatchNoWords;
    if (!refusal.isEmpty()) {
        RunBox(this, QMessageBox::Information, refusal, QMessageBox::Ok, "badRuleTextBox");
        return;
    }
    PutMatchRule(kind, text, flag, true, text::kAddRuleFailed, times);
}

// One meaning, one rule: `flag` goes to the match rule of this kind and meaning, which is added
// where there is none. An existing rule's flag changes once the user agrees (`ask`), or at
// once where it does not block as `flag` does. A failure is reported as `what` failed.
void CWinwardenView::PutMatchRule(const QString& kind, const QString& text, const QString& flag,
                                  bool ask, const QString& what,
                                  const std::optional<QString>& times) {
    QPointer<CWinwardenView> self(this);
    try {
        if (!EnsureMatchTable() || !self)
            return;
        if (const std::optional<MatchRuleRow> rule = m_monitor.FindMatchRule(kind, text)) {
            const QString held = rule->flag.value_or(QString());
            if (ask) {
                QString question =
                    text::kMatchRuleExists.arg(kind, rule->text.value_or(QString()), held, flag);
                // New times replace the rule's own: the user is told which, before they go.
                const QString before = rule->times.value_or(QString());
                const QString after = times ? ScheduleShown(*times) : before;
                if (after != before)
                    question +=
                        text::kMatchRuleTimesChange.arg(before.isEmpty() ? text::kAlways : before,
                                                        after.isEmpty() ? text::kAlways : after);
                const auto answer = RunBox(this, QMessageBox::Question, question,
                                           QMessageBox::Ok | QMessageBox::Cancel, "ruleExistsBox");
                if (!self || answer != QMessageBox::Ok)
                    return;
            } else if (IsBlockingFlag(held) == IsBlockingFlag(flag)) {
                return;
            }
            m_monitor.SetMatchRuleFlag(rule->id, flag);
        } else {
            m_monitor.AddMatchRule(kind, text, flag);
        }
        if (times) {
            if (const std::optional<MatchRuleRow> rule = m_monitor.FindMatchRule(kind, text))
                m_monitor.SetMatchRuleTimes(rule->id, *times);
        }
    } catch (const StoreError& error) {
        ReportCommandFailure(this, what, error.message());
        return;
    }
    if (self && m_matchList)
        LoadMatchRuleList();
}

// "禁止这个网站": the site of the selected row's page (or the 网站 rule of a match-list row)
// blocked in one step, by a new rule or by the one the site has.
void CWinwardenView::OnBlockSite() {
    const int row = FirstSelectedRow();
    if (row < 0) {
        RunBox(this, QMessageBox::Information, text::kSelectWindow, QMessageBox::Ok,
               "selectWindowBox");
        return;
    }
    BlockSite(m_matchList ? (CellText(row, 2) == kKindSite
                                 ? CanonicalHost(CellText(row, 0)).value_or(QString())
                                 : QString())
                          : PageHost(CellText(row, 2)));
}

void CWinwardenView::BlockSite(const QString& host) {
    if (RefusedToChange(this, m_monitor, text::kBlockSiteFailed))
        return;
    if (host.isEmpty()) {
        RunBox(this, QMessageBox::Information, text::kBlockSiteNoHost, QMessageBox::Ok,
               "noSiteBox");
        return;
    }
    PutMatchRule(kKindSite, host, kFlagBlock, false, text::kBlockSiteFailed);
}

void CWinwardenView::OnShowVisits() {
    if (!m_visits) {
        m_visits = new CVisitsDlg(m_monitor, this);
        connect(m_visits, &CVisitsDlg::blockSiteRequested, this, &CWinwardenView::BlockSite);
    } else {
        m_visits->ShowDay(m_visits->Day());
    }
    m_visits->show();
    m_visits->raise();
    m_visits->activateWindow();
}

} // namespace winwarden
