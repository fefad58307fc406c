// The user's commands on the list: rule lists, flag changes, deletes, status.
#include "monitor/messagebox.h"
#include "monitor/windowflagdlg.h"
#include "monitor/winwardenview.h"
#include "res/texts.h"
#include "store/flag.h"

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

void ReportCommandFailure(QWidget* owner, const QString& what, const StoreError& error) {
    RunBox(owner, QMessageBox::Warning, what + error.message(), QMessageBox::Ok, "storeFailureBox");
}

void CloseQuietly(RuleStore& store) {
    try {
        store.CloseRecordset();
    } catch (const StoreError&) {
        // The failure already on its way to the user is the one that matters.
    }
}

using RuleCells = std::array<std::optional<QString>, 3>; // window name, flag, URL

} // namespace

void CWinwardenView::OnInitialUpdate() {
    // The frame keeps the size the user gave it: fitting it to the list's tiny form, as a new
    // document would, collapses the window to a few pixels.
    m_bLayoutReady = true;
    m_wndList->setGeometry(rect());
    m_wndList->hide();
    ApplyListStyle(*m_wndList);
    Q_EMIT titleChanged(text::kDocTitle);
}

void CWinwardenView::LoadRuleList(QString filter) {
    // Everything is read before the list is touched, so a failing store leaves the list as
    // it was.
    QList<RuleCells> rules;
    try {
        m_store.ListByFlag(filter);
        for (; !m_store.AtEnd(); m_store.MoveNext()) {
            rules.append({RuleStore::FieldText(m_store.FieldValue(1)),
                          RuleStore::FieldText(m_store.FieldValue(2)),
                          RuleStore::FieldText(m_store.FieldValue(3))});
        }
        m_store.CloseRecordset();
    } catch (const StoreError& error) {
        CloseQuietly(m_store);
        ReportCommandFailure(this, text::kLoadRulesFailed, error);
        return;
    }

    m_wndList->show();
    SetUpColumns();
    ApplyListStyle(*m_wndList);
    for (const RuleCells& rule : rules) {
        const int row = AppendRow();
        if (rule[0])
            SetCellText(row, 0, *rule[0] + text::kCaptionSuffix);
        if (rule[1])
            SetCellText(row, 1, *rule[1]);
        if (rule[2])
            SetCellText(row, 2, *rule[2]);
    }
}

void CWinwardenView::OnShowBlocked() {
    m_store.SetCurrentFilter(kFlagBlock);
    LoadRuleList(m_store.CurrentFilter());
}

void CWinwardenView::OnShowPassed() {
    m_store.SetCurrentFilter(kFlagPass);
    LoadRuleList(m_store.CurrentFilter());
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
    const QString rowUrl = dialog->m_strUrl;
    const int result = dialog->exec();
    if (!dialog)
        return; // it went with the main window while it was open
    const QString flag = dialog->m_strFlag;
    const QString url = dialog->m_strUrl;
    delete dialog.data();
    if (!self || result != CWindowFlagDlg::kResultOk)
        return;

    // Stored first: the list must not show a flag the store refused.
    try {
        m_store.SetFlagByUrl(flag, url);
    } catch (const StoreError& error) {
        ReportCommandFailure(this, text::kSetFlagFailed, error);
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
    const QString name = CellText(row, 0);
    const QString url = CellText(row, 2);
    QPointer<CWinwardenView> self(this);
    // One arg() call: a "%2" inside the name stays as the user sees it.
    const auto answer = RunBox(this, QMessageBox::Question, text::kConfirmDelete.arg(name, url),
                               QMessageBox::Ok | QMessageBox::Cancel, "confirmDeleteBox");
    if (!self || answer != QMessageBox::Ok)
        return;
    try {
        m_store.DeleteByUrl(url);
    } catch (const StoreError& error) {
        ReportCommandFailure(this, text::kDeleteRuleFailed, error);
        return;
    }
    LoadRuleList(m_store.CurrentFilter());
}

void CWinwardenView::OnDownloadPage() {
    if (!QDesktopServices::openUrl(QUrl(text::kDownloadPageUrl)))
        ReportUnopenedLink(this, text::kDownloadPageUrl);
}

void CWinwardenView::OnRefreshList() {
    if (m_bMonitoring)
        DeleteAllRows();
}

void CWinwardenView::OnShowStatus() {
    RunBox(this, QMessageBox::Information,
           m_bMonitoring ? text::kStatusRunning : text::kStatusStopped, QMessageBox::Ok,
           "statusBox");
}

} // namespace winwarden
