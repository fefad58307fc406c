#pragma once

#include "engine/visittracker.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace winwarden {

// Makes the fields a visit gets only when written or reported: the user's name (looked up once
// per uid), the station, the host; a title or an address longer than the bound is kept cut, so
// that a page cannot grow the record faster than its title could grow the rule list. A visit of
// an unknown user (-1) is this process's user's.
class VisitFiller final {
public:
    static constexpr int kMaxTitle = 2048;
    static constexpr int kMaxUrl = 4096;

    VisitFiller();
    void Fill(VisitRow& row);

private:
    QString UserName(qint64 uid);

    QHash<qint64, QString> m_names;
    QString m_station;
    qint64 m_ownUid = -1;
};

// What one batch hands the writer: the visits ended since the last one, in full; the open
// visits it has not been told of, in full; and how far the others have got.
struct VisitBatch {
    struct Progress {
        qint64 serial = 0;
        qint64 end = 0;
        std::optional<qint64> frontMs;
    };
    std::vector<TrackedVisit> ended;
    std::vector<TrackedVisit> opened;
    std::vector<Progress> progress;
    QString store; // the rule store's name; empty while it is closed
    qint64 wallMs = 0;
    qint64 monotonicMs = 0;
    int keepDays = 90;
    bool pruneNow = false; // the days to keep changed: remove the older visits at once
};

// What a report adds to the store's rows: the ended visits not stored yet, and the keys the
// store gave to visits it holds as they were while open, by serial.
struct UnstoredVisits {
    std::vector<TrackedVisit> ended;
    QHash<qint64, qint64> ids;
};

// Writes the visit record's batches on a thread of its own, over a connection of its own to
// the store the batch names (Qt's connections belong to the thread that opened them), so that
// the cycle that hands a batch over never waits for a disk or a server. The writer gives each
// visit its key in the store and keeps it by serial while the visit is open, so an open visit
// is one row however many batches tell of it. While the store fails, ended visits wait here,
// at most the waiting bound of them; older ones beyond that are dropped and counted.
class VisitWriter final {
public:
    static constexpr qint64 kPruneEveryMs = 24LL * 3600 * 1000;
    static constexpr int kMaxWaiting = 20'000;
    // How long the writer's statements wait for another program's lock on a file, or (on a
    // server) may take.
    static constexpr int kBusyTimeoutMs = 2000;
    // How long the destructor waits for a batch under way before it leaves the thread to end
    // alone (a server that stopped answering mid-statement).
    static constexpr int kQuitWaitMs = 3000;
    // The writer thread's niceness: background work, behind the cycles and the window.
    static constexpr int kNice = 5;

    VisitWriter();
    ~VisitWriter();
    VisitWriter(const VisitWriter&) = delete;
    VisitWriter& operator=(const VisitWriter&) = delete;

    // Hands a batch over and returns: the writer writes it when it gets to it.
    void Hand(VisitBatch batch);
    // Waits until every batch handed so far has been tried, at most `timeoutMs`; true when
    // they have.
    bool WaitWritten(int timeoutMs);
    void SetWaitingBound(int visits);

    // Runs `readStore` while no batch commits, and gives what it read with what was not
    // stored at that moment, so that a report neither misses a batch nor counts one twice.
    std::pair<std::vector<VisitRow>, UnstoredVisits>
    Read(const std::function<std::vector<VisitRow>()>& readStore);

    // The last batch's failure (empty when it was written), the ended visits waiting, and
    // those lost to the bound.
    QString Failure() const;
    int Waiting() const;
    qint64 Lost() const;

private:
    struct Shared;
    static void Run(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

} // namespace winwarden
