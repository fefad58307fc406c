// The view itself: the list control and the monitor's entry points.
#include "monitor/winwardenview.h"

#include "engine/monitor.h"
#include "monitor/columnwidths.h"
#include "res/commandids.h"
#include "res/texts.h"
#include "store/flag.h"
#include "survey/pagetitle.h"

#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QResizeEvent>
#include <QTableWidget>
#include <QTimer>
#include <QTimerEvent>
#include <QToolButton>
#include <algorithm>
#include <memory>
#include <span>

namespace winwarden {

namespace {

constexpr int kRowHeight = 20;
constexpr int kWholeTextRole = Qt::UserRole + 1;
constexpr int kTitleRole = Qt::UserRole + 2;
constexpr int kOwnFlagRole = Qt::UserRole + 3;
// A tooltip wraps its text; past this it would cover the screen.
constexpr int kMaxTipChars = 4096;

} // namespace

CWinwardenView::CWinwardenView(Monitor& monitor, QWidget* parent)
    : QWidget(parent), m_monitor(monitor), m_wndList(new QTableWidget(this)),
      m_strFilter(kFlagPass) {
    m_wndList->setObjectName(QStringLiteral("list"));
    m_wndList->verticalHeader()->hide();
    m_wndList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_wndList->verticalHeader()->setMinimumSectionSize(1);
    m_wndList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_wndList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_wndList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_wndList->setWordWrap(false);
    // The address takes whatever the title leaves, and the widths a user gives stay.
    m_wndList->horizontalHeader()->setStretchLastSection(true);
    connect(m_wndList->horizontalHeader(), &QHeaderView::sectionResized, this, [this] {
        if (!m_restoringWidths && m_wndList->columnCount() > 0)
            SaveColumnWidths(*m_wndList, ColumnsKey());
    });
    // The list's double-click is the view's to handle, like every other notification of it.
    connect(m_wndList, &QTableWidget::cellDoubleClicked, this, [this] { OnListDblClk(); });
    m_wndList->installEventFilter(this);

    m_filterEdit = new QLineEdit(this);
    m_filterEdit->setObjectName(QStringLiteral("filter"));
    m_filterEdit->setPlaceholderText(text::kFilterPlaceholder);
    m_filterEdit->setClearButtonEnabled(true);
    m_filterEdit->setAccessibleName(text::kFilterName);
    // The clear button is a tool button of the edit's own, named by nothing else.
    for (QAction* action : m_filterEdit->actions())
        action->setText(text::kFilterClearName);
    for (QToolButton* button : m_filterEdit->findChildren<QToolButton*>())
        button->setAccessibleName(text::kFilterClearName);
    m_filterEdit->hide();
    m_filterEdit->installEventFilter(this);
    connect(m_filterEdit, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
    auto* find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, this, &CWinwardenView::OnFind);
    addAction(find);
    // The list's own menu offers what a parent wants most of a page on it.
    auto* blockSite = new QAction(text::kBlockSiteCommand, m_wndList);
    blockSite->setObjectName(QStringLiteral("blockSite"));
    connect(blockSite, &QAction::triggered, this, &CWinwardenView::OnBlockSite);
    m_wndList->addAction(blockSite);
    m_wndList->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(&m_monitor, &Monitor::windowSeen, this, &CWinwardenView::AddToLiveList);
    connect(&m_monitor, &Monitor::storeFailed, this, &CWinwardenView::statusMessage);
    connect(&m_monitor, &Monitor::cycleFinished, this, &CWinwardenView::OnCycleFinished);
}

CWinwardenView::~CWinwardenView() {
    OnDestroy();
}

bool CWinwardenView::OnCmdMsg(int commandId) {
    switch (commandId) {
    case cmd::kStart:
        OnStart();
        return true;
    case cmd::kStop:
        OnStop();
        return true;
    case cmd::kShowBlocked:
        OnShowBlocked();
        return true;
    case cmd::kShowPassed:
        OnShowPassed();
        return true;
    case cmd::kDeleteWindow:
        OnDeleteWindow();
        return true;
    case cmd::kDownloadPage:
        OnDownloadPage();
        return true;
    case cmd::kRefreshList:
        OnRefreshList();
        return true;
    case cmd::kShowStatus:
        OnShowStatus();
        return true;
    case cmd::kAddRule:
        OnAddRule();
        return true;
    case cmd::kShowMatchRules:
        OnShowMatchRules();
        return true;
    case cmd::kBlockSite:
        OnBlockSite();
        return true;
    case cmd::kShowVisits:
        OnShowVisits();
        return true;
    default:
        return false;
    }
}

bool CWinwardenView::IsMonitoring() const {
    return m_monitor.IsMonitoring();
}

void CWinwardenView::OnStart() {
    if (IsMonitoring())
        return;
    SetUpColumns(false);
    m_wndList->setAccessibleName(text::kLiveListName);
    m_wndList->show();
    m_monitor.Start();
}

void CWinwardenView::OnStop() {
    DeleteAllRows();
    m_wndList->setColumnCount(0);
    m_matchList = false;
    m_wndList->hide();
    m_monitor.Stop();
}

void CWinwardenView::timerEvent(QTimerEvent* event) {
    OnTimer(event->timerId());
}

void CWinwardenView::OnTimer(int /*timerId*/) {
    m_monitor.OnTimer();
}

void CWinwardenView::AddToLiveList(const SeenWindow& window) {
    // The match rules share no columns with pages: the live list waits until they go.
    if (window.title.isEmpty() || m_matchList)
        return;
    // The page as its browser's window is captioned: one row per title and browser, and per
    // user where the list holds other users' pages too.
    QString caption = BrowserCaption(window.title, window.browser);
    if (!window.user.isEmpty())
        caption = text::kOtherUsersPage.arg(window.user, caption);
    auto listed = m_captionRow.constFind(caption);
    // A rule list on show while monitoring lists the page's rule by its title: that is its row.
    if (listed == m_captionRow.cend())
        listed = m_captionRow.constFind(window.title);
    const QString flag = window.ShownFlag();
    if (listed != m_captionRow.cend()) {
        // Listed already: the row follows its rule, which another program may have changed.
        const QTableWidgetItem* shown = m_wndList->item(*listed, 1);
        if (!shown || shown->text() != flag || RowFlag(*listed) != window.flag)
            SetFlagCell(*listed, flag, window.flag);
        return;
    }
    const int row = AppendRow();
    SetCellText(row, 0, caption, window.title);
    SetFlagCell(row, flag, window.flag);
    SetCellText(row, 2, window.url);
    ApplyFilter(row);
}

void CWinwardenView::OnDestroy() {
    if (m_bLayoutReady)
        m_monitor.Stop();
}

void CWinwardenView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_bLayoutReady)
        LayOut();
}

// The list covers the view, below the filter while the filter is open.
void CWinwardenView::LayOut() {
    int top = 0;
    if (!m_filterEdit->isHidden()) {
        top = m_filterEdit->sizeHint().height();
        m_filterEdit->setGeometry(0, 0, width(), top);
    }
    m_wndList->setGeometry(0, top, width(), height() - top);
}

void CWinwardenView::OnFind() {
    if (m_wndList->isHidden())
        return; // no list on show, nothing to narrow
    m_filterEdit->show();
    LayOut();
    m_filterEdit->setFocus(Qt::ShortcutFocusReason);
    m_filterEdit->selectAll();
}

void CWinwardenView::CloseFilter() {
    m_filterEdit->clear();
    m_filterEdit->hide();
    LayOut();
    m_wndList->setFocus(Qt::OtherFocusReason);
}

void CWinwardenView::ApplyFilter(int row) {
    const QString wanted = m_filterEdit->text();
    const bool shown = wanted.isEmpty() || CellText(row, 0).contains(wanted, Qt::CaseInsensitive) ||
                       CellText(row, 2).contains(wanted, Qt::CaseInsensitive);
    m_wndList->setRowHidden(row, !shown);
}

void CWinwardenView::ApplyFilter() {
    for (int row = 0; row < m_wndList->rowCount(); ++row)
        ApplyFilter(row);
}

// Enter on a row changes its flag, as a double-click does; Delete deletes its rule; Escape
// in the filter closes it.
bool CWinwardenView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (watched == m_wndList && plain) {
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                OnListDblClk();
                return true;
            }
            if (key->key() == Qt::Key_Delete) {
                OnDeleteWindow();
                return true;
            }
        }
        if (watched == m_filterEdit && plain && key->key() == Qt::Key_Escape) {
            CloseFilter();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CWinwardenView::SetUpColumns(bool matchRules) {
    DeleteAllRows();
    m_wndList->setColumnCount(0);
    m_matchList = matchRules;
    InsertColumns();
}

void CWinwardenView::InsertColumns() {
    // The widths set here are the list's own, not the user's: none is saved.
    m_restoringWidths = true;
    m_wndList->verticalHeader()->setDefaultSectionSize(kRowHeight);
    const struct {
        const QString& header;
        int width;
    } columns[] = {
        // The match list leaves room for its times: a rule's text is short beside a title.
        {m_matchList ? text::kColumnMatchText : text::kColumnCaption,
         text::kColumnCaptionWidth - (m_matchList ? text::kColumnMatchTimesWidth : 0)},
        {text::kColumnFlag, text::kColumnFlagWidth},
        {m_matchList ? text::kColumnMatchKind : text::kColumnUrl,
         m_matchList ? text::kColumnMatchKindWidth : text::kColumnUrlWidth},
        {text::kColumnMatchTimes, text::kColumnMatchTimesWidth}, // the match list's alone
        {text::kColumnMatchUse, text::kColumnMatchUseWidth},
    };
    m_wndList->setColumnCount(m_matchList ? static_cast<int>(std::size(columns)) : 3);
    int index = 0;
    for (const auto& column : std::span(columns).first(size_t(m_wndList->columnCount()))) {
        auto* header = new QTableWidgetItem(column.header);
        header->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        m_wndList->setHorizontalHeaderItem(index, header);
        m_wndList->setColumnWidth(index, column.width);
        ++index;
    }
    RestoreColumnWidths(*m_wndList, ColumnsKey());
    m_restoringWidths = false;
}

QString CWinwardenView::ColumnsKey() const {
    return m_matchList ? QStringLiteral("matchRules") : QStringLiteral("pages");
}

void CWinwardenView::DeleteAllRows() {
    m_wndList->setRowCount(0);
    m_captionRow.clear();
}

int CWinwardenView::AppendRow() {
    // A row needs cells to hold its caption; without them every later cycle would miss it
    // and append it again.
    if (m_wndList->columnCount() == 0)
        InsertColumns();
    const int row = m_wndList->rowCount();
    m_wndList->insertRow(row);
    return row;
}

void CWinwardenView::SetCellText(int row, int column, const QString& text,
                                 const std::optional<QString>& title) {
    // A cell outside the columns has nowhere to keep its text; the list reads it back as empty.
    if (row < 0 || row >= m_wndList->rowCount() || column < 0 || column >= m_wndList->columnCount())
        return;
    // Rows only ever come at the end or all go at once, and a row's caption is set once: the
    // first row of a caption stays its row.
    if (column == 0 && !m_captionRow.contains(text))
        m_captionRow.insert(text, row);
    // A new cell is filled before the list takes it: each change to a listed cell is one more
    // notice to the list, and a cycle may append a thousand rows.
    QTableWidgetItem* item = m_wndList->item(row, column);
    std::unique_ptr<QTableWidgetItem> fresh;
    if (!item) {
        fresh = std::make_unique<QTableWidgetItem>();
        item = fresh.get();
    }
    // The address column is narrow: its tooltip shows the whole address.
    if (column == 2)
        item->setToolTip(text.size() > kMaxTipChars ? text.left(kMaxTipChars) + QChar(0x2026)
                                                    : text);
    // Drawing a text costs time with its length, and a page chooses its own title: the list
    // draws a bounded beginning of it.
    if (text.size() > kMaxDrawnChars) {
        item->setText(text.left(kMaxDrawnChars) + QChar(0x2026));
        item->setData(kWholeTextRole, text);
    } else {
        item->setText(text);
        if (!fresh)
            item->setData(kWholeTextRole, QVariant());
    }
    if (title)
        item->setData(kTitleRole, title->isNull() ? QVariant() : QVariant(*title));
    if (fresh)
        m_wndList->setItem(row, column, fresh.release());
}

void CWinwardenView::SetFlagCell(int row, const QString& shown, const QString& own) {
    SetCellText(row, 1, shown);
    if (QTableWidgetItem* item = m_wndList->item(row, 1)) {
        // The column is narrow, and a long match rule's name may still not fit it.
        item->setToolTip(shown == own ? QString() : shown);
        item->setData(kOwnFlagRole, shown == own ? QVariant() : QVariant(own));
    }
    // A flag that names the match rule deciding it is worth reading: the column widens to it,
    // up to a limit, and never narrows again while the list lasts.
    if (shown != own) {
        constexpr int kWidestFlag = 320;
        const int wanted =
            std::min(m_wndList->fontMetrics().horizontalAdvance(shown.left(64)) + 16, kWidestFlag);
        if (m_wndList->columnWidth(1) < wanted) {
            m_wndList->setColumnWidth(1, wanted);
            // Once the list has its size: a cycle may come before the window is laid out.
            QTimer::singleShot(0, this, &CWinwardenView::FitCaptionColumn);
        }
    }
}

// The caption gives up what a widened flag column took, so that the flag stays in sight.
void CWinwardenView::FitCaptionColumn() {
    if (m_wndList->columnCount() < 3 || m_wndList->columnWidth(1) <= text::kColumnFlagWidth ||
        !m_wndList->isVisible())
        return;
    // The address keeps room to be read; it stretches over whatever is left.
    const int room =
        m_wndList->viewport()->width() - m_wndList->columnWidth(1) - text::kColumnUrlWidth;
    m_wndList->setColumnWidth(0, std::clamp(room, 200, text::kColumnCaptionWidth));
}

QString CWinwardenView::RowFlag(int row) const {
    const QTableWidgetItem* item = m_wndList->item(row, 1);
    if (item && item->data(kOwnFlagRole).isValid())
        return item->data(kOwnFlagRole).toString();
    return CellText(row, 1);
}

QString CWinwardenView::RowTitle(int row) const {
    const QTableWidgetItem* item = m_wndList->item(row, 0);
    return item ? item->data(kTitleRole).toString() : QString();
}

QString CWinwardenView::CellText(int row, int column) const {
    const QTableWidgetItem* item = m_wndList->item(row, column);
    if (!item)
        return {};
    const QVariant whole = item->data(kWholeTextRole);
    return whole.isValid() ? whole.toString() : item->text();
}

int CWinwardenView::FirstSelectedRow() const {
    int first = -1;
    for (const QItemSelectionRange& range : m_wndList->selectionModel()->selection())
        if (first < 0 || range.top() < first)
            first = range.top();
    return first;
}

} // namespace winwarden
