// The view itself: the list control, the monitor timer and the monitor cycle.
#include "monitor/winwardenview.h"

#include "platform/toplevelwindows.h"
#include "res/commandids.h"
#include "res/texts.h"
#include "store/flag.h"
#include "survey/browsersnapshot.h"
#include "survey/shellwindows.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QResizeEvent>
#include <QTableWidget>
#include <QTimerEvent>
#include <QtDebug>
#include <cstdio>
#include <cstdlib>

namespace winwarden {

namespace {

constexpr int kRowHeight = 20;

// Every path that ran FindByName closes the recordset, also when a statement throws half-way.
class RecordsetCloser final {
public:
    explicit RecordsetCloser(RuleStore& store) : m_store(store) {}
    ~RecordsetCloser() {
        try {
            m_store.CloseRecordset();
        } catch (const StoreError&) {
            // The failure that brought us here is the one worth reporting.
        }
    }
    RecordsetCloser(const RecordsetCloser&) = delete;
    RecordsetCloser& operator=(const RecordsetCloser&) = delete;

private:
    RuleStore& m_store;
};

// A cycle's lookups share one read of the rule file; the file is never left locked after it.
class ReadBatch final {
public:
    explicit ReadBatch(RuleStore& store) : m_store(store) { m_store.BeginReadBatch(); }
    ~ReadBatch() {
        try {
            m_store.EndReadBatch();
        } catch (const StoreError& error) {
            // Only reads were in it; the next cycle starts afresh.
            qWarning().noquote() << error.message();
        }
    }
    ReadBatch(const ReadBatch&) = delete;
    ReadBatch& operator=(const ReadBatch&) = delete;

private:
    RuleStore& m_store;
};

// Nothing can run without the rules. The process ends here, before the event loop exists;
// running static destructors with a half-built window tree alive is what would crash, so the
// end skips them, after flushing what was written.
[[noreturn]] void EndWithoutDatabase() {
    QMessageBox box(QMessageBox::Critical, text::kAppName, text::kOpenDbFailed, QMessageBox::Ok);
    box.exec();
    std::fflush(nullptr);
    std::_Exit(-1);
}

} // namespace

CWinwardenView::CWinwardenView(QWidget* parent, MonitorServices services)
    : QWidget(parent), m_wndList(new QTableWidget(this)), m_services(std::move(services)) {
    m_wndList->setObjectName(QStringLiteral("list"));
    m_wndList->verticalHeader()->hide();
    m_wndList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_wndList->verticalHeader()->setMinimumSectionSize(1);
    m_wndList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_wndList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_wndList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // The list's double-click is the view's to handle, like every other notification of it.
    connect(m_wndList, &QTableWidget::cellDoubleClicked, this, [this] { OnListDblClk(); });

    if (!m_services.shellWindows) {
        m_ownedShellWindows = MakeDevToolsShellWindows();
        m_services.shellWindows = m_ownedShellWindows.get();
    }
    if (!m_services.topLevelWindows) {
        m_ownedTopLevelWindows = MakeDevToolsTopLevelWindows();
        m_services.topLevelWindows = m_ownedTopLevelWindows.get();
    }
    if (!m_services.snapshot)
        m_services.snapshot = &TheBrowserSnapshot();

    try {
        m_store.Open(m_services.databasePath);
    } catch (const StoreError& error) {
        qWarning().noquote() << error.message();
        EndWithoutDatabase();
    }

    // The process may end without the frame ever telling us; no tick may reach a closing store.
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                [this] { m_monitorTimer.stop(); });
}

CWinwardenView::~CWinwardenView() {
    OnDestroy();
    m_monitorTimer.stop();
    m_store.Close();
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
    default:
        return false;
    }
}

void CWinwardenView::OnStart() {
    if (m_bMonitoring)
        return;
    SetUpColumns();
    m_wndList->show();
    m_monitorTimer.start(kMonitorPeriodMs, this);
    m_nLiveRows = 0;
    m_bMonitoring = true;
}

void CWinwardenView::OnStop() {
    DeleteAllRows();
    m_wndList->setColumnCount(0);
    m_wndList->hide();
    m_monitorTimer.stop();
    m_bMonitoring = false;
}

void CWinwardenView::timerEvent(QTimerEvent* event) {
    OnTimer(event->timerId());
}

void CWinwardenView::OnTimer(int /*timerId*/) {
    BrowserSnapshot& snapshot = *m_services.snapshot;
    TakeBrowserSnapshot(*m_services.shellWindows, snapshot);
    bool reachedStore = false;
    ReadBatch batch(m_store);
    try {
        for (int i = 0; i < snapshot.count && i < BrowserSnapshot::kCapacity; ++i) {
            const auto index = static_cast<std::size_t>(i);
            reachedStore = reachedStore || !snapshot.titles[index].isEmpty();
            CheckWindowRule(snapshot.titles[index], snapshot.urls[index]);
            AddToLiveList(snapshot.titles[index], snapshot.urls[index]);
        }
    } catch (const StoreError& error) {
        // The rest of this cycle would meet the same failure; the next tick tries afresh.
        ReportStoreFailure(QStringLiteral("监视时读写窗口规则失败"), error);
        return;
    }
    // Only a cycle that asked the store proves it works again; an idle one proves nothing.
    if (reachedStore)
        ResetStoreFailure();
}

void CWinwardenView::CheckWindowRule(QString title, QString url) {
    if (title.isEmpty())
        return;
    {
        m_store.FindByName(title);
        RecordsetCloser closer(m_store);
        if (m_store.AtEnd()) {
            m_store.InsertPassed(title, url);
            return;
        }
        const std::optional<QString> name = RuleStore::FieldText(m_store.FieldValue(1));
        const std::optional<QString> flag = RuleStore::FieldText(m_store.FieldValue(2));
        if (!name || !flag || !IsBlockingFlag(*flag))
            return;
    }
    // The browser may take up to its time-out to answer; no other program should wait on the
    // rule file meanwhile.
    m_store.ReleaseReadLock();
    if (const std::optional<WindowHandle> window =
            m_services.topLevelWindows->FindByCaption(title + text::kCaptionSuffix))
        m_services.topLevelWindows->RequestClose(*window);
}

void CWinwardenView::AddToLiveList(QString title, QString url) {
    if (title.isEmpty())
        return;
    m_nLiveRows = m_wndList->rowCount();
    const QString caption = title + text::kCaptionSuffix;
    if (IsCaptionListed(caption))
        return;
    const int row = AppendRow();
    SetCellText(row, 0, caption);
    SetCellText(row, 1, kFlagPass);
    SetCellText(row, 2, url);
    ++m_nLiveRows;
}

void CWinwardenView::OnDestroy() {
    if (m_bLayoutReady)
        m_monitorTimer.stop();
}

void CWinwardenView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_bLayoutReady)
        m_wndList->setGeometry(0, 0, event->size().width(), event->size().height());
}

void CWinwardenView::SetUpColumns() {
    DeleteAllRows();
    m_wndList->setColumnCount(0);
    InsertColumns();
}

void CWinwardenView::InsertColumns() {
    m_wndList->verticalHeader()->setDefaultSectionSize(kRowHeight);
    const struct {
        const QString& header;
        int width;
    } columns[] = {
        {text::kColumnCaption, text::kColumnCaptionWidth},
        {text::kColumnFlag, text::kColumnFlagWidth},
        {text::kColumnUrl, text::kColumnUrlWidth},
    };
    m_wndList->setColumnCount(static_cast<int>(std::size(columns)));
    int index = 0;
    for (const auto& column : columns) {
        auto* header = new QTableWidgetItem(column.header);
        header->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        m_wndList->setHorizontalHeaderItem(index, header);
        m_wndList->setColumnWidth(index, column.width);
        ++index;
    }
}

void CWinwardenView::DeleteAllRows() {
    m_wndList->setRowCount(0);
    m_captionIndex.clear();
}

int CWinwardenView::AppendRow() {
    // A row needs cells to hold its caption; without them every later cycle would miss it
    // in the index and append it again.
    if (m_wndList->columnCount() == 0)
        InsertColumns();
    const int row = m_wndList->rowCount();
    m_wndList->insertRow(row);
    ++m_captionIndex[QString()];
    return row;
}

void CWinwardenView::SetCellText(int row, int column, const QString& text) {
    // A cell outside the columns has nowhere to keep its text; the list reads it back as empty.
    if (row < 0 || row >= m_wndList->rowCount() || column < 0 || column >= m_wndList->columnCount())
        return;
    if (column == 0) {
        const QString old = CellText(row, 0);
        if (auto it = m_captionIndex.find(old); it != m_captionIndex.end() && --it.value() <= 0)
            m_captionIndex.erase(it);
        ++m_captionIndex[text];
    }
    if (QTableWidgetItem* item = m_wndList->item(row, column))
        item->setText(text);
    else
        m_wndList->setItem(row, column, new QTableWidgetItem(text));
}

QString CWinwardenView::CellText(int row, int column) const {
    const QTableWidgetItem* item = m_wndList->item(row, column);
    return item ? item->text() : QString();
}

bool CWinwardenView::IsCaptionListed(const QString& caption) const {
    return m_captionIndex.value(caption) > 0;
}

int CWinwardenView::FirstSelectedRow() const {
    int first = -1;
    for (const QItemSelectionRange& range : m_wndList->selectionModel()->selection())
        if (first < 0 || range.top() < first)
            first = range.top();
    return first;
}

void CWinwardenView::ReportStoreFailure(const QString& what, const StoreError& error) {
    if (m_bStoreFailureReported)
        return;
    m_bStoreFailureReported = true;
    const QString message = what + QStringLiteral("：") + error.message();
    qWarning().noquote() << message;
    Q_EMIT statusMessage(message);
}

void CWinwardenView::ResetStoreFailure() {
    m_bStoreFailureReported = false;
}

} // namespace winwarden
