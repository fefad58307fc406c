#pragma once

#include "store/visitday.h"
#include "store/visitstore.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <vector>

namespace winwarden {

// The visits of the database `name` (a file or a postgresql:// address) that the query asks
// for; none where it has no table 访问记录. Throws StoreError.
std::vector<VisitRow> ReadVisits(const QString& name, const VisitQuery& query);

// The visits as CSV, quoted as the rule export quotes (UTF-8, CRLF, a header line): 用户,
// 用户编号, 站点, 开始, 结束, 在前（秒）, 窗口名称, 主机, 网址, 结果, 规则. Times are local,
// "2026-03-02 15:04:05.123"; the time in front in seconds to the millisecond, nothing where it
// is not known.
QByteArray WriteVisitsCsv(const std::vector<VisitRow>& visits);

// One self-contained HTML page of a day (no script, nothing fetched): the time spent per site
// as an inline SVG bar chart and a table (each site's row carries data-ms, its time in ms), the
// hours with any page open as a timeline, the blocked tries, and the visits. `who` names whose
// day it is. Well-formed as XML too, so that any parser reads it.
QByteArray WriteDayReportHtml(const DaySummary& day, const QDate& date, const QString& who);

// A time as the reports show it: local, to the second.
QString VisitTimeText(qint64 ms);

} // namespace winwarden
