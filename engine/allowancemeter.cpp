#include "engine/allowancemeter.h"

#include "match/normalize.h"
#include "store/visitday.h"

namespace winwarden {

bool AllowanceRule::Covers(QStringView pageHost) const {
    if (pageHost.isEmpty()) {
        return false;
    }
    if (rule.kind == MatchRule::Kind::AllWeb) {
        return true;
    }
    return !host.isEmpty() &&
           (pageHost == host || (pageHost.endsWith(host) && pageHost.size() > host.size() &&
                                 pageHost[pageHost.size() - host.size() - 1] == u'.'));
}

QDate AllowanceMeter::DayOf(const QDateTime& wall) const {
    // Before the day-start hour the wall time still belongs to the day before.
    return wall.time().hour() < m_dayStartHour ? wall.date().addDays(-1) : wall.date();
}

QDateTime AllowanceMeter::DayBegins(const QDate& day) const {
    return QDateTime(day, QTime(m_dayStartHour, 0));
}

bool AllowanceMeter::Observe(const std::vector<FrontPage>& front, qint64 monotonicMs,
                             const QDateTime& wall) {
    const QDate day = DayOf(wall);
    const qint64 interval = m_last ? std::max<qint64>(monotonicMs - m_last->monotonicMs, 0) : 0;
    bool newDay = false;
    if (!m_day || day > *m_day) {
        newDay = m_day.has_value();
        m_day = day;
        m_used.clear();
        m_noticed.clear();
        // Of the interval only what lies after the day began is the new day's.
        const qint64 sinceBegin = DayBegins(day).msecsTo(wall);
        Add(m_front, std::clamp<qint64>(sinceBegin, 0, interval));
    } else {
        Add(m_front, interval);
    }
    m_last = Last{monotonicMs};

    m_front.clear();
    const int minute = MinuteOfWeek(wall);
    for (const AllowanceRule& rule : m_rules) {
        if (rule.schedule && !ScheduleHolds(*rule.schedule, minute)) {
            continue;
        }
        for (const FrontPage& page : front) {
            if (rule.Covers(page.host)) {
                m_front << Key{page.uid, rule.rule.id};
            }
        }
    }
    return newDay;
}

template <typename Keys> void AllowanceMeter::Add(const Keys& keys, qint64 ms) {
    if (ms <= 0) {
        return;
    }
    for (const Key& key : keys) {
        m_used[key] += ms;
    }
}

void AllowanceMeter::Seed(const std::vector<VisitRow>& visits) {
    if (!m_day) {
        return;
    }
    const qint64 begin = DayBegins(*m_day).toMSecsSinceEpoch();
    const qint64 end = DayBegins(m_day->addDays(1)).toMSecsSinceEpoch();
    m_used.clear();
    for (const VisitRow& visit : visits) {
        const qint64 spent = SpentWithin(visit, begin, end);
        if (spent <= 0) {
            continue;
        }
        const QString host = PageHost(visit.url);
        const int minute = MinuteOfWeek(
            QDateTime::fromMSecsSinceEpoch(std::max(visit.start, begin)).toLocalTime());
        for (const AllowanceRule& rule : m_rules) {
            if (rule.Covers(host) && (!rule.schedule || ScheduleHolds(*rule.schedule, minute))) {
                m_used[{visit.uid, rule.rule.id}] += spent;
            }
        }
    }
}

} // namespace winwarden
