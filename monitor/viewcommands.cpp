// The user's commands on the list: rule lists, flag changes, deletes, status.
#include "engine/monitor.h"
#include "monitor/addruledlg.h"
#include "monitor/messagebox.h"
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

namespace winwarden {
namespace {

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
    SetUpColumns();
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
    if (row < 0)
        return;
    QPointer<CWinwardenView> self(this);
    QPointer<CWindowFlagDlg> dialog = new CWindowFlagDlg(window());
    dialog->m_strWindowName = CellText(row, 0);
    dialog->m_strFlag = CellText(row, 1);
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
        SetCellText(row, 1, flag);
}

void CWinwardenView::OnDeleteWindow() {
    const int row = FirstSelectedRow();
    if (row < 0) {
        RunBox(this, QMessageBox::Information, text::kSelectWindow, QMessageBox::Ok,
               "selectWindowBox");
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
    QPointer<CWinwardenView> self(this);
    QPointer<CAddRuleDlg> dialog = new CAddRuleDlg(window());
    const int result = dialog->exec();
    if (!dialog)
        return;
    const QString name = dialog->WindowName();
    const QString url = dialog->Url();
    const QString flag = dialog->Flag();
    delete dialog.data();
    if (!self || result != QDialog::Accepted)
        return;
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
    if (IsMonitoring())
        DeleteAllRows();
}

void CWinwardenView::OnShowStatus() {
    RunBox(this, QMessageBox::Information,
           IsMonitoring() ? text::kStatusRunning : text::kStatusStopped, QMessageBox::Ok,
           "statusBox");
}

} // namespace winwarden
