// The user's commands on the list: rule lists, flag changes, deletes, status.
#include "monitor/winwardenview.h"

namespace winwarden {

void CWinwardenView::OnInitialUpdate() {}
void CWinwardenView::LoadRuleList(QString) {}
void CWinwardenView::OnShowBlocked() {}
void CWinwardenView::OnShowPassed() {}
void CWinwardenView::OnListDblClk() {}
void CWinwardenView::OnDeleteWindow() {}
void CWinwardenView::OnDownloadPage() {}
void CWinwardenView::OnRefreshList() {}
void CWinwardenView::OnShowStatus() {}

} // namespace winwarden
