#pragma once

#include "match/matchindex.h"
#include "store/visitstore.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <optional>
#include <vector>

namespace winwarden {

// A match rule with a daily allowance, as the meter counts it.
struct AllowanceRule {
    MatchRule rule;
    std::optional<Schedule> schedule; // its days and spans: time counts only while it holds
    QString host;                     // a 网站 rule's canonical host; empty for 全部网页

    // Whether a page of this host (canonical, empty for no web page) is one of the rule's: the
    // rule's host and its sub-domains, or for 全部网页 every web page.
    bool Covers(QStringView pageHost) const;
};

// A person's tab in front at a cycle: the active tab of a focused window (any tab of a source
// that cannot tell).
struct FrontPage {
    qint64 uid = -1;
    QString host; // canonical (PageHost)
};

// Each person's time today on the pages of each rule with an allowance. A cycle's interval
// (from its start to the next cycle) counts for a rule and a person when, at the cycle that
// began it, the person had a tab of the rule's pages in front while the rule held: once,
// however many such tabs. Durations come from the monotonic clock; the day from the local wall
// time, each day beginning at the day-start hour (00:00 unless set), and an interval across
// the start of a day is split, the part after it counting for the new day.
//
// The wall clock may jump. The meter keeps the latest day it has seen and never goes back to
// an earlier one: a clock set back across the day's start leaves today's counters as they are
// (the time goes on counting to today), and the next day begins only when the wall time
// reaches a day later than the latest seen. Set forward into tomorrow, the new day begins at
// once, and setting it back then gives nothing more. Only a restart reads an earlier day again,
// from the visits in the store, where the time already spent stays counted.
class AllowanceMeter final {
public:
    struct Key {
        qint64 uid = -1;
        qint64 rule = 0;
        bool operator==(const Key&) const = default;
        friend size_t qHash(const Key& key, size_t seed = 0) {
            return qHashMulti(seed, key.uid, key.rule);
        }
    };

    void SetDayStartHour(int hour) { m_dayStartHour = std::clamp(hour, 0, 23); }
    int DayStartHour() const { return m_dayStartHour; }
    // The day a local wall time belongs to, and the wall time a day begins at.
    QDate DayOf(const QDateTime& wall) const;
    QDateTime DayBegins(const QDate& day) const;

    void SetRules(std::vector<AllowanceRule> rules) { m_rules = std::move(rules); }
    const std::vector<AllowanceRule>& Rules() const { return m_rules; }

    // One cycle at `monotonicMs`, the wall time being `wall`, with the tabs in front now: the
    // interval since the last cycle is counted for what was in front then. True when a new
    // day began (today's counters start again).
    bool Observe(const std::vector<FrontPage>& front, qint64 monotonicMs, const QDateTime& wall);
    // The monitor stopped: the time until the next cycle counts nothing.
    void Pause() { m_last.reset(); }
    // Today's counters taken from the visits of the store, those not yet written included,
    // where a restart finds them: each visit's time in front within today, per person and rule.
    void Seed(const std::vector<VisitRow>& visits);

    std::optional<QDate> Day() const { return m_day; }
    qint64 UsedMs(qint64 uid, qint64 rule) const { return m_used.value({uid, rule}); }
    const QHash<Key, qint64>& Used() const { return m_used; }
    // The rules each person had in front at the last cycle.
    const auto& InFront() const { return m_front; }
    // True the first time it is asked for a person and rule on a day: a notice goes once.
    bool FirstNotice(const Key& key) {
        return !m_noticed.contains(key) && (m_noticed << key, true);
    }

private:
    template <typename Keys> void Add(const Keys& keys, qint64 ms);

    std::vector<AllowanceRule> m_rules;
    int m_dayStartHour = 0;
    std::optional<QDate> m_day;
    QHash<Key, qint64> m_used;
    QSet<Key> m_front; // a set: a person with two matching tabs in front counts once
    QSet<Key> m_noticed;
    struct Last {
        qint64 monotonicMs = 0;
    };
    std::optional<Last> m_last;
};

} // namespace winwarden
