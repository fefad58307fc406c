#pragma once

#include "store/visitday.h"

#include <QDate>
#include <QDialog>
#include <QString>
#include <array>

class QChartView;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace winwarden {

class Monitor;

// 访问记录: one user's day (or everyone's) at a glance, read through the monitor, whoever
// answers for it: the time in front per site as a bar chart and a list, biggest first; the
// hours with any page open; the blocked tries; and the visits, with a filter (Ctrl+F).
// Alt+← and Alt+→ go to the day before and after. A double-click on a site's bar or row, or
// on a visit, offers to block that site.
class CVisitsDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CVisitsDlg(Monitor& monitor, QWidget* parent = nullptr);

    // Shows `day` (and reads it again when it is the day shown).
    void ShowDay(const QDate& day);
    QDate Day() const { return m_day; }
    // Picks the user by name; empty for everyone.
    void ShowUser(const QString& user);
    const DaySummary& Summary() const { return m_summary; }

    QComboBox* UserBox() const { return m_users; }
    QTableWidget* SiteList() const { return m_sites; }
    QTableWidget* BlockedList() const { return m_blocked; }
    QTableWidget* VisitList() const { return m_visits; }
    QLineEdit* FilterEdit() const { return m_filter; }
    QChartView* ChartView() const { return m_chart; }
    // The hours with any page open, as the timeline tells a screen reader: "8时、9时".
    QString OpenHoursText() const;
    // Asks whether to block `host` (the double-click's offer).
    void OfferBlock(const QString& host);

Q_SIGNALS:
    // The user said yes to blocking this site.
    void blockSiteRequested(const QString& host);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Reload();
    void Fill();
    void FillChart();
    void ApplyFilter();

    Monitor& m_monitor;
    QDate m_day;
    std::vector<VisitRow> m_dayVisits; // everyone's the monitor lets this user read
    DaySummary m_summary;              // of the user picked
    QComboBox* m_users = nullptr;
    QDateEdit* m_date = nullptr;
    QLabel* m_total = nullptr;
    QChartView* m_chart = nullptr;
    QWidget* m_hours = nullptr;
    QTableWidget* m_sites = nullptr;
    QTableWidget* m_blocked = nullptr;
    QTableWidget* m_visits = nullptr;
    QLineEdit* m_filter = nullptr;
    QLabel* m_failure = nullptr;
    std::vector<QString> m_chartHosts; // the chart's categories, bottom to top
};

} // namespace winwarden
