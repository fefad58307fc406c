#pragma once

#include "engine/clock.h"
#include "engine/visittracker.h"
#include "engine/visitwriter.h"
#include "store/visitstore.h"

#include <QStringList>

namespace winwarden {

// The visit record of a monitor: the tracker's visits written to table 访问记录 in batches,
// and the old ones removed once a day. A crash loses at most the last kWriteEveryMs of visits:
// each batch hands the visits ended since the last one and the state of those still open to
// the writer, which stores them on a thread of its own while the cycles go on. While the store
// fails, ended visits wait in memory, at most kMaxWaiting of them; older ones beyond that are
// dropped and counted in a notice.
class VisitRecorder final {
public:
    static constexpr qint64 kWriteEveryMs = 60'000;
    static constexpr qint64 kPruneEveryMs = VisitWriter::kPruneEveryMs;
    static constexpr int kMaxWaiting = VisitWriter::kMaxWaiting;
    static constexpr int kDefaultKeepDays = 90;
    static constexpr int kMaxTitle = VisitFiller::kMaxTitle;
    static constexpr int kMaxUrl = VisitFiller::kMaxUrl;
    // How long Stop waits for the writer to store the last batch. A store that takes longer (a
    // server that no longer answers) does not hold the window: the batch is written when the
    // writer gets to it, and a report reads it meanwhile.
    static constexpr int kStopWaitMs = 2000;

    explicit VisitRecorder(RuleStore& store);

    // Visits older than `days` days are removed; 0 records none and keeps none. A setting
    // changed while the record runs applies at once; one given before the first batch, with it.
    void SetKeepDays(int days) {
        if (std::max(days, 0) != m_keepDays) {
            m_keepDays = std::max(days, 0);
            m_pruneNow = m_lastHand.has_value();
        }
    }
    int KeepDays() const { return m_keepDays; }
    // How often a batch is handed over (kWriteEveryMs unless set; a bench sets it shorter).
    void SetWritePeriod(qint64 ms) { m_writeEveryMs = std::max<qint64>(ms, 1); }
    // How many ended visits may wait for a failing store (kMaxWaiting unless set).
    void SetWaitingBound(int visits) { m_writer.SetWaitingBound(visits); }

    // One cycle's pages; hands a batch to the writer when one is due. Pages of an unknown user
    // (-1) are this process's user's.
    void Record(const std::vector<VisitSighting>& pages, const Clock& clock);
    // Ends the open visits now and waits, at most kStopWaitMs, for them to be written with
    // what else waits (the monitor stops).
    void Stop(const Clock& clock);
    // Hands what waits to the writer now and waits, at most `timeoutMs`, for it to be tried.
    // False when the store failed or the time ran out; the notices then tell.
    bool Write(const Clock& clock, int timeoutMs = kStopWaitMs);
    // Waits, at most `timeoutMs`, until the batches handed so far have been tried.
    bool WaitWritten(int timeoutMs) { return m_writer.WaitWritten(timeoutMs); }

    // The visits the store has not yet been told of, or not as they are now (those still open,
    // those waiting for the next batch), that the query asks for.
    std::vector<VisitRow> Unwritten(const VisitQuery& query);
    // The store's visits with the unwritten ones as they are now: what a report shows.
    std::vector<VisitRow> List(const VisitQuery& query);

    // What the user should know of the record: a store that does not take the visits, or
    // visits lost.
    QStringList Notices() const;
    qint64 Lost() const { return m_writer.Lost(); }
    int Waiting() const { return int(m_waiting.size()) + m_writer.Waiting(); }

    VisitStore& Store() { return m_visits; }

private:
    void Hand(const Clock& clock);
    std::vector<VisitRow> Merge(std::vector<VisitRow> stored, UnstoredVisits unstored,
                                const VisitQuery& query);

    RuleStore& m_store;
    VisitStore m_visits;
    VisitTracker m_tracker;
    VisitFiller m_filler;
    std::vector<TrackedVisit> m_waiting; // ended since the last batch
    int m_keepDays = kDefaultKeepDays;
    qint64 m_writeEveryMs = kWriteEveryMs;
    bool m_pruneNow = false;
    std::optional<qint64> m_lastHand; // monotonic
    VisitWriter m_writer;             // last: its thread ends before the rest goes
};

} // namespace winwarden
