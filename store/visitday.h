#pragma once

#include "store/visitstore.h"

#include <QDate>
#include <QString>
#include <array>
#include <utility>
#include <vector>

namespace winwarden {

// The bounds of a local day, [begin, end) in ms since the epoch (a day of a change of daylight
// saving time is 23 or 25 hours long).
std::pair<qint64, qint64> DayBounds(const QDate& day);

// The part of a visit's spent time (SpentMs) that falls in [begin, end): the open time that
// falls there and, where the time in front is known, that time in the same proportion, since
// a visit keeps how long it was in front, not when.
qint64 SpentWithin(const VisitRow& visit, qint64 begin, qint64 end);

// One user's day at a glance, as the window and the report show it.
struct DaySummary {
    std::vector<std::pair<QString, qint64>> perSite; // time spent per host, biggest first
    std::array<qint64, 24> openPerHour{};            // ms of each hour with any page open
    std::vector<VisitRow> blocked;                   // the blocked tries, by time
    std::vector<VisitRow> visits;                    // every visit that touches the day
    qint64 total = 0;                                // the sum of perSite
};

// `visits` may hold visits of other days: only what falls in `day` counts.
DaySummary SummarizeDay(std::vector<VisitRow> visits, const QDate& day);

// "1小时05分", "12分", "40秒": a duration as the reports show it.
QString SpentText(qint64 ms);

} // namespace winwarden
