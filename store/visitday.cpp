#include "store/visitday.h"

#include <QDateTime>
#include <QHash>
#include <algorithm>

namespace winwarden {

std::pair<qint64, qint64> DayBounds(const QDate& day) {
    return {QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch(),
            QDateTime(day.addDays(1), QTime(0, 0)).toMSecsSinceEpoch()};
}

qint64 SpentWithin(const VisitRow& visit, qint64 begin, qint64 end) {
    const qint64 from = std::max(visit.start, begin);
    const qint64 to = std::min(visit.end, end);
    const qint64 open = visit.end - visit.start;
    if (to < from || (to == from && open > 0) || (open == 0 && (from < begin || from >= end))) {
        return 0;
    }
    if (!visit.frontMs) {
        return to - from;
    }
    if (open <= 0) {
        return *visit.frontMs;
    }
    return static_cast<qint64>(
        static_cast<double>(*visit.frontMs) * double(to - from) / double(open) + 0.5);
}

DaySummary SummarizeDay(std::vector<VisitRow> visits, const QDate& day) {
    DaySummary summary;
    const auto [begin, end] = DayBounds(day);
    std::array<qint64, 25> hourStarts{};
    for (int hour = 0; hour < 24; ++hour) {
        hourStarts[static_cast<size_t>(hour)] = QDateTime(day, QTime(hour, 0)).toMSecsSinceEpoch();
    }
    hourStarts[24] = end;
    std::sort(visits.begin(), visits.end(), [](const VisitRow& a, const VisitRow& b) {
        return std::pair(a.start, a.id) < std::pair(b.start, b.id);
    });
    QHash<QString, qint64> perSite;
    // The hours are filled from the union of the open spans, so that two tabs open at once
    // count their hour once.
    qint64 coveredUntil = begin;
    for (VisitRow& visit : visits) {
        if (visit.end < begin || visit.start >= end ||
            (visit.end == begin && visit.end > visit.start)) {
            continue;
        }
        perSite[visit.host] += SpentWithin(visit, begin, end);
        const qint64 from = std::max({visit.start, begin, coveredUntil});
        const qint64 to = std::min(visit.end, end);
        for (int hour = 0; hour < 24 && from < to; ++hour) {
            const qint64 a = std::max(from, hourStarts[static_cast<size_t>(hour)]);
            const qint64 b = std::min(to, hourStarts[static_cast<size_t>(hour) + 1]);
            if (b > a) {
                summary.openPerHour[static_cast<size_t>(hour)] += b - a;
            }
        }
        coveredUntil = std::max(coveredUntil, to);
        if (visit.result == QStringLiteral("禁止")) {
            summary.blocked.push_back(visit);
        }
        summary.visits.push_back(std::move(visit));
    }
    for (auto it = perSite.cbegin(); it != perSite.cend(); ++it) {
        summary.perSite.emplace_back(it.key(), it.value());
        summary.total += it.value();
    }
    std::sort(summary.perSite.begin(), summary.perSite.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    return summary;
}

QString SpentText(qint64 ms) {
    const qint64 seconds = (ms + 500) / 1000;
    if (seconds < 60) {
        return QStringLiteral("%1秒").arg(seconds);
    }
    const qint64 minutes = seconds / 60;
    if (minutes < 60) {
        return QStringLiteral("%1分").arg(minutes);
    }
    return QStringLiteral("%1小时%2分").arg(minutes / 60).arg(minutes % 60, 2, 10, QChar(u'0'));
}

} // namespace winwarden
