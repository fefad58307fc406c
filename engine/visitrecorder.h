#pragma once

#include "engine/clock.h"
#include "engine/visittracker.h"
#include "store/visitstore.h"

#include <QHash>
#include <QStringList>
#include <deque>

namespace winwarden {

// The visit record of a monitor: the tracker's visits written to table 访问记录 in batches,
// and the old ones removed once a day. A crash loses at most the last kWriteEveryMs of visits:
// each batch writes the visits ended since the last one and the state of those still open.
// While the store fails, ended visits wait in memory, at most kMaxWaiting of them; older ones
// beyond that are dropped and counted in a notice.
class VisitRecorder final {
public:
    static constexpr qint64 kWriteEveryMs = 60'000;
    static constexpr qint64 kPruneEveryMs = 24LL * 3600 * 1000;
    static constexpr int kMaxWaiting = 20'000;
    static constexpr int kDefaultKeepDays = 90;
    // A title or an address longer than this is kept cut: a page cannot grow the record
    // faster than its title could grow the rule list.
    static constexpr int kMaxTitle = 2048;
    static constexpr int kMaxUrl = 4096;

    explicit VisitRecorder(RuleStore& store);

    // Visits older than `days` days are removed; 0 records none and keeps none.
    // A new setting applies at the next write.
    void SetKeepDays(int days) {
        if (std::max(days, 0) != m_keepDays) {
            m_keepDays = std::max(days, 0);
            m_lastPrune.reset();
        }
    }
    int KeepDays() const { return m_keepDays; }
    // How many ended visits may wait for a failing store (kMaxWaiting unless set).
    void SetWaitingBound(int visits) { m_maxWaiting = std::max(visits, 0); }

    // One cycle's pages; writes a batch when one is due. Pages of an unknown user (-1) are
    // this process's user's.
    void Record(const std::vector<VisitSighting>& pages, const Clock& clock);
    // Ends the open visits now and writes what waits (the monitor stops).
    void Stop(const Clock& clock);
    // Writes what waits now, and removes old visits when that is due. False on a failure,
    // which the notices then tell.
    bool Write(const Clock& clock);

    // The visits the store has not yet been told of, or not as they are now (those still open,
    // those waiting for the next batch), that the query asks for.
    std::vector<VisitRow> Unwritten(const VisitQuery& query);
    // The store's visits with the unwritten ones as they are now: what a report shows.
    std::vector<VisitRow> List(const VisitQuery& query);

    // What the user should know of the record: a store that does not take the visits, or
    // visits lost.
    QStringList Notices() const;
    qint64 Lost() const { return m_lost; }
    int Waiting() const { return int(m_waiting.size()); }

    VisitStore& Store() { return m_visits; }

private:
    QString UserName(qint64 uid);
    void Fill(VisitRow& row);

    RuleStore& m_store;
    VisitStore m_visits;
    VisitTracker m_tracker;
    std::deque<VisitRow> m_waiting;
    QHash<qint64, QString> m_names;
    QString m_station;
    qint64 m_ownUid = -1;
    int m_keepDays = kDefaultKeepDays;
    int m_maxWaiting = kMaxWaiting;
    std::optional<qint64> m_lastWrite; // monotonic
    std::optional<qint64> m_lastPrune; // monotonic
    qint64 m_lost = 0;
    QString m_failure;
};

} // namespace winwarden
