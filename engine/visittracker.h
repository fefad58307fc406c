#pragma once

#include "store/visitstore.h"
#include "survey/browsersource.h"

#include <QHash>
#include <QString>
#include <optional>
#include <vector>

namespace winwarden {

// One page of a cycle, as the visit record sees it.
struct VisitSighting {
    WindowHandle handle; // the tab: a visit is what consecutive cycles say of one tab
    qint64 uid = -1;
    QString title;
    QString url;
    std::optional<bool> inFront; // the active tab of a focused window; none where not known
    bool blocked = false;
    QString rule; // for a blocked page, the deciding rule as the live list names it
};

// A visit as the tracker hands it on: `serial` names it from the cycle that opens it to the
// one that ends it, before and after the store gives it its key.
struct TrackedVisit {
    qint64 serial = 0;
    VisitRow row;
    bool handed = false; // for the caller: told to the writer in full already
};

// Turns the pages of consecutive cycles into visits. A visit opens in the cycle that first
// sees a page in a tab and ends in the cycle that no longer does, or sees another title,
// address or verdict there. Durations come from the monotonic clock: a visit starts at the
// wall time of its first cycle and ends that start plus the monotonic time it lasted, so a
// wall clock set back (or forward) meanwhile neither shortens it below nothing nor stretches
// it. Time in front is counted from one cycle to the next when the earlier one saw the tab in
// front. The tracker leaves the host empty, and the user's name and station as they come: what
// can wait for the batch is made there, off the cycle.
class VisitTracker final {
public:
    // The pages of one cycle at `monotonicMs`, the wall time being `wallMs`.
    void Observe(const std::vector<VisitSighting>& pages, qint64 monotonicMs, qint64 wallMs);
    // Ends every open visit at `monotonicMs` (the monitor stops).
    void EndAll(qint64 monotonicMs);
    // The visits ended since the last call, in the order they ended.
    std::vector<TrackedVisit> TakeEnded();
    // The visits still open, their end and time in front as of the last cycle; the caller may
    // mark them handed.
    std::vector<TrackedVisit*> OpenVisits();
    int OpenCount() const { return int(m_open.size()); }

private:
    struct Open {
        TrackedVisit visit;
        qint64 startMonotonic = 0;
        qint64 lastMonotonic = 0;
        bool lastInFront = false;
        qint64 cycle = 0; // the cycle that last saw it
    };
    void Advance(Open& open, qint64 monotonicMs);
    void End(Open& open, qint64 monotonicMs);

    struct TabKey {
        int source = -1;
        QString browser;
        QString id;
        qint64 uid = -1;
        bool operator==(const TabKey&) const = default;
        friend size_t qHash(const TabKey& key, size_t seed = 0) {
            return qHashMulti(seed, key.source, key.browser, key.id, key.uid);
        }
    };
    QHash<TabKey, Open> m_open; // by tab
    std::vector<TrackedVisit> m_ended;
    qint64 m_cycle = 0;
    qint64 m_serial = 0;
};

} // namespace winwarden
