#include "monitor/visitsdlg.h"

#include "engine/monitor.h"
#include "monitor/columnwidths.h"
#include "monitor/messagebox.h"
#include "res/texts.h"
#include "store/flag.h"
#include "store/storeerror.h"
#include "store/visitexport.h"

#include <QAction>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHorizontalBarSeries>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <set>

namespace winwarden {

namespace {

constexpr int kChartSites = 12; // the chart's bars; the list below it holds every site

// The 24 hours of the day, an hour with any page open filled.
class HoursStrip final : public QWidget {
public:
    explicit HoursStrip(QWidget* parent) : QWidget(parent) {
        setMinimumHeight(36);
        setFocusPolicy(Qt::TabFocus);
    }
    void SetHours(const std::array<qint64, 24>& hours) {
        m_hours = hours;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const double cell = double(width() - 1) / 24.0;
        const int bar = height() - 16;
        for (int hour = 0; hour < 24; ++hour) {
            const QRectF box(hour * cell, 0, cell, bar);
            painter.fillRect(box, m_hours[size_t(hour)] > 0 ? QColor(63, 127, 191) : Qt::white);
            painter.setPen(Qt::gray);
            painter.drawRect(box);
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(QRectF(hour * cell, bar, cell, 16), Qt::AlignCenter,
                             QString::number(hour));
        }
        if (hasFocus()) {
            painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
            painter.drawRect(rect().adjusted(1, 1, -1, -1));
        }
    }

private:
    std::array<qint64, 24> m_hours{};
};

// `widths` are the columns' widths until the user sets others.
QTableWidget* MakeList(QWidget* parent, const QString& name, const QStringList& columns,
                       const QList<int>& widths) {
    auto* list = new QTableWidget(parent);
    list->setObjectName(name);
    list->setAccessibleName(name);
    list->setColumnCount(int(columns.size()));
    list->setHorizontalHeaderLabels(columns);
    list->verticalHeader()->hide();
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setWordWrap(false);
    list->horizontalHeader()->setStretchLastSection(true);
    for (int column = 0; column < widths.size(); ++column) {
        list->setColumnWidth(column, widths[column]);
    }
    RememberColumnWidths(*list, QStringLiteral("Visits/") + name);
    return list;
}

void SetRow(QTableWidget& list, int row, const QStringList& cells) {
    for (int column = 0; column < cells.size(); ++column) {
        auto* item = new QTableWidgetItem(cells[column]);
        item->setToolTip(cells[column]);
        list.setItem(row, column, item);
    }
}

} // namespace

CVisitsDlg::CVisitsDlg(Monitor& monitor, QWidget* parent) : QDialog(parent), m_monitor(monitor) {
    setObjectName(QStringLiteral("visits"));
    setWindowTitle(QStringLiteral("访问记录"));
    setModal(false);
    resize(980, 760);

    m_users = new QComboBox(this);
    m_users->setObjectName(QStringLiteral("user"));
    m_users->setAccessibleName(QStringLiteral("用户"));
    auto* userLabel = new QLabel(QStringLiteral("用户(&U)："), this);
    userLabel->setBuddy(m_users);
    m_date = new QDateEdit(this);
    m_date->setObjectName(QStringLiteral("day"));
    m_date->setAccessibleName(QStringLiteral("日期"));
    m_date->setCalendarPopup(true);
    m_date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    auto* dateLabel = new QLabel(QStringLiteral("日期(&D)："), this);
    dateLabel->setBuddy(m_date);
    auto* before = new QPushButton(QStringLiteral("← 前一天"), this);
    before->setObjectName(QStringLiteral("dayBefore"));
    before->setAccessibleName(QStringLiteral("前一天"));
    before->setToolTip(QStringLiteral("前一天（Alt+←）"));
    auto* after = new QPushButton(QStringLiteral("后一天 →"), this);
    after->setObjectName(QStringLiteral("dayAfter"));
    after->setAccessibleName(QStringLiteral("后一天"));
    after->setToolTip(QStringLiteral("后一天（Alt+→）"));
    auto* today = new QPushButton(QStringLiteral("今天(&T)"), this);
    today->setObjectName(QStringLiteral("today"));
    for (QPushButton* button : {before, after, today}) {
        button->setAutoDefault(false);
    }
    // Wherever the focus is in the window, as the filter's Ctrl+F.
    for (const auto& [button, key] : {std::pair(before, Qt::Key_Left), {after, Qt::Key_Right}}) {
        auto* action = new QAction(this);
        action->setShortcut(QKeySequence(Qt::ALT | key));
        connect(action, &QAction::triggered, button, &QPushButton::click);
        addAction(action);
    }
    connect(before, &QPushButton::clicked, this, [this] { ShowDay(m_day.addDays(-1)); });
    connect(after, &QPushButton::clicked, this, [this] { ShowDay(m_day.addDays(1)); });
    connect(today, &QPushButton::clicked, this, [this] { ShowDay(QDate::currentDate()); });
    connect(m_date, &QDateEdit::dateChanged, this, [this](const QDate& day) {
        if (day != m_day) {
            ShowDay(day);
        }
    });
    connect(m_users, &QComboBox::currentIndexChanged, this, [this] { Fill(); });

    auto* bar = new QHBoxLayout;
    bar->addWidget(userLabel);
    bar->addWidget(m_users, 1);
    bar->addSpacing(12);
    bar->addWidget(dateLabel);
    bar->addWidget(before);
    bar->addWidget(m_date);
    bar->addWidget(after);
    bar->addWidget(today);

    m_total = new QLabel(this);
    m_total->setObjectName(QStringLiteral("total"));
    m_failure = new QLabel(this);
    m_failure->setObjectName(QStringLiteral("failure"));
    m_failure->setStyleSheet(QStringLiteral("color: #b00000"));
    m_failure->hide();

    m_chart = new QChartView(new QChart, this);
    m_chart->setObjectName(QStringLiteral("chart"));
    m_chart->setAccessibleName(QStringLiteral("各网站的在前时间"));
    m_chart->setRenderHint(QPainter::Antialiasing);
    m_chart->setMinimumHeight(220);
    m_chart->chart()->legend()->hide();
    m_sites = MakeList(this, QStringLiteral("各网站的时间"),
                       {QStringLiteral("网站"), QStringLiteral("时间")}, {220});
    auto* top = new QHBoxLayout;
    top->addWidget(m_chart, 3);
    top->addWidget(m_sites, 2);

    auto* strip = new HoursStrip(this);
    strip->setObjectName(QStringLiteral("hours"));
    strip->setAccessibleName(QStringLiteral("有页面打开的时段"));
    m_hours = strip;

    m_blocked =
        MakeList(this, QStringLiteral("被禁止的尝试"),
                 {QStringLiteral("时间"), QStringLiteral("用户"), QStringLiteral("窗口名称"),
                  QStringLiteral("网站"), QStringLiteral("规则")},
                 {150, 80, 240, 160});
    m_visits = MakeList(this, QStringLiteral("访问"),
                        {QStringLiteral("开始"), QStringLiteral("结束"), QStringLiteral("在前"),
                         QStringLiteral("用户"), QStringLiteral("窗口名称"), QStringLiteral("网址"),
                         QStringLiteral("结果")},
                        {150, 150, 70, 80, 240, 280});
    m_filter = new QLineEdit(this);
    m_filter->setObjectName(QStringLiteral("filter"));
    m_filter->setPlaceholderText(text::kFilterPlaceholder);
    m_filter->setAccessibleName(text::kFilterName);
    m_filter->setClearButtonEnabled(true);
    m_filter->hide();
    m_filter->installEventFilter(this);
    connect(m_filter, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
    auto* find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] {
        m_filter->show();
        m_filter->setFocus();
        m_filter->selectAll();
    });
    addAction(find);

    connect(m_sites, &QTableWidget::cellDoubleClicked, this,
            [this](int row) { OfferBlock(m_sites->item(row, 0)->text()); });
    connect(m_visits, &QTableWidget::cellDoubleClicked, this, [this](int row) {
        const auto index = size_t(m_visits->item(row, 0)->data(Qt::UserRole).toLongLong());
        if (index < m_summary.visits.size()) {
            OfferBlock(m_summary.visits[index].host);
        }
    });

    auto* blockedLabel = new QLabel(QStringLiteral("被禁止的尝试(&B)："), this);
    blockedLabel->setBuddy(m_blocked);
    auto* visitsLabel = new QLabel(QStringLiteral("访问(&V)："), this);
    visitsLabel->setBuddy(m_visits);
    auto* hoursLabel = new QLabel(QStringLiteral("有页面打开的时段："), this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_failure);
    layout->addWidget(m_total);
    layout->addLayout(top, 3);
    layout->addWidget(hoursLabel);
    layout->addWidget(m_hours);
    layout->addWidget(blockedLabel);
    layout->addWidget(m_blocked, 1);
    layout->addWidget(visitsLabel);
    layout->addWidget(m_filter);
    layout->addWidget(m_visits, 3);
    const QList<QWidget*> order{m_users, before,  m_date,    after,    today,   m_chart,
                                m_sites, m_hours, m_blocked, m_filter, m_visits};
    for (qsizetype i = 0; i + 1 < order.size(); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }

    ShowDay(QDate::currentDate());
}

void CVisitsDlg::ShowDay(const QDate& day) {
    m_day = day;
    if (m_date->date() != day) {
        const QSignalBlocker quiet(m_date);
        m_date->setDate(day);
    }
    Reload();
}

void CVisitsDlg::ShowUser(const QString& user) {
    const int index = user.isEmpty() ? 0 : m_users->findData(user);
    if (index >= 0) {
        m_users->setCurrentIndex(index);
    }
}

void CVisitsDlg::Reload() {
    const auto [begin, end] = DayBounds(m_day);
    VisitQuery query;
    query.since = begin;
    query.until = end;
    try {
        m_dayVisits = m_monitor.ListVisits(query);
        m_failure->hide();
    } catch (const StoreError& error) {
        m_dayVisits.clear();
        m_failure->setText(QStringLiteral("读取访问记录失败：") + error.message());
        m_failure->show();
    }
    // Whoever the day's visits belong to can be picked; the one picked stays where it can.
    const QString picked = m_users->currentData().toString();
    std::set<QString> users;
    for (const VisitRow& visit : m_dayVisits) {
        users.insert(visit.user);
    }
    {
        const QSignalBlocker quiet(m_users);
        m_users->clear();
        m_users->addItem(QStringLiteral("所有用户"), QString());
        for (const QString& user : users) {
            m_users->addItem(user, user);
        }
        m_users->setCurrentIndex(std::max(m_users->findData(picked), 0));
    }
    Fill();
}

void CVisitsDlg::Fill() {
    const QString user = m_users->currentData().toString();
    std::vector<VisitRow> visits;
    for (const VisitRow& visit : m_dayVisits) {
        if (user.isEmpty() || visit.user == user) {
            visits.push_back(visit);
        }
    }
    m_summary = SummarizeDay(std::move(visits), m_day);
    m_total->setText(m_summary.visits.empty()
                         ? QStringLiteral("这一天没有访问记录。")
                         : QStringLiteral("在前台的时间合计：%1；访问 %2 次，其中被禁止 %3 次。")
                               .arg(SpentText(m_summary.total),
                                    QString::number(m_summary.visits.size()),
                                    QString::number(m_summary.blocked.size())));
    m_sites->setRowCount(int(m_summary.perSite.size()));
    for (int row = 0; row < int(m_summary.perSite.size()); ++row) {
        const auto& [host, ms] = m_summary.perSite[size_t(row)];
        SetRow(*m_sites, row, {host, SpentText(ms)});
    }
    m_blocked->setRowCount(int(m_summary.blocked.size()));
    for (int row = 0; row < int(m_summary.blocked.size()); ++row) {
        const VisitRow& visit = m_summary.blocked[size_t(row)];
        SetRow(*m_blocked, row,
               {VisitTimeText(visit.start), visit.user, visit.title, visit.host, visit.rule});
    }
    m_visits->setRowCount(int(m_summary.visits.size()));
    for (int row = 0; row < int(m_summary.visits.size()); ++row) {
        const VisitRow& visit = m_summary.visits[size_t(row)];
        SetRow(*m_visits, row,
               {VisitTimeText(visit.start), VisitTimeText(visit.end),
                visit.frontMs ? SpentText(*visit.frontMs) : QStringLiteral("—"), visit.user,
                visit.title, visit.url, visit.result});
        m_visits->item(row, 0)->setData(Qt::UserRole, qint64(row));
    }
    static_cast<HoursStrip*>(m_hours)->SetHours(m_summary.openPerHour);
    m_hours->setAccessibleDescription(OpenHoursText().isEmpty() ? QStringLiteral("无")
                                                                : OpenHoursText());
    FillChart();
    ApplyFilter();
}

void CVisitsDlg::FillChart() {
    QChart* chart = m_chart->chart();
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    m_chartHosts.clear();
    auto* set = new QBarSet(QStringLiteral("在前时间（分钟）"));
    set->setColor(QColor(63, 127, 191));
    QStringList categories;
    const int shown = std::min<int>(kChartSites, int(m_summary.perSite.size()));
    // A horizontal chart draws its first category at the bottom: biggest last, on top.
    for (int i = shown - 1; i >= 0; --i) {
        const auto& [host, ms] = m_summary.perSite[size_t(i)];
        *set << double(ms) / 60000.0;
        categories << (host.isEmpty() ? QStringLiteral("（无网站）") : host);
        m_chartHosts.push_back(host);
    }
    auto* series = new QHorizontalBarSeries;
    series->append(set);
    chart->addSeries(series);
    auto* sites = new QBarCategoryAxis;
    sites->append(categories);
    chart->addAxis(sites, Qt::AlignLeft);
    series->attachAxis(sites);
    auto* minutes = new QValueAxis;
    minutes->setTitleText(QStringLiteral("分钟"));
    minutes->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(minutes, Qt::AlignBottom);
    series->attachAxis(minutes);
    // Round ticks (0, 20, 40 …) rather than the range cut in four (0, 18, 35 …).
    minutes->applyNiceNumbers();
    chart->setTitle(QStringLiteral("各网站的在前时间"));
    connect(set, &QBarSet::doubleClicked, this, [this](int index) {
        if (index >= 0 && size_t(index) < m_chartHosts.size()) {
            OfferBlock(m_chartHosts[size_t(index)]);
        }
    });
}

QString CVisitsDlg::OpenHoursText() const {
    QStringList hours;
    for (int hour = 0; hour < 24; ++hour) {
        if (m_summary.openPerHour[size_t(hour)] > 0) {
            hours << QStringLiteral("%1时").arg(hour);
        }
    }
    return hours.join(QStringLiteral("、"));
}

void CVisitsDlg::OfferBlock(const QString& host) {
    if (host.isEmpty()) {
        return;
    }
    if (RunMessageBox(this, QMessageBox::Question, text::kPromptCaption,
                      QStringLiteral("禁止这个网站：%1 ？").arg(host),
                      QMessageBox::Yes | QMessageBox::No, "blockSiteBox") == QMessageBox::Yes) {
        Q_EMIT blockSiteRequested(host);
    }
}

void CVisitsDlg::ApplyFilter() {
    const QString wanted = m_filter->text();
    for (int row = 0; row < m_visits->rowCount(); ++row) {
        bool match = wanted.isEmpty();
        for (int column = 0; !match && column < m_visits->columnCount(); ++column) {
            match = m_visits->item(row, column)->text().contains(wanted, Qt::CaseInsensitive);
        }
        m_visits->setRowHidden(row, !match);
    }
}

bool CVisitsDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_filter && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        m_filter->clear();
        m_filter->hide();
        m_visits->setFocus();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace winwarden
