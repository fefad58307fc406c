#include "engine/visitwriter.h"

#include "match/normalize.h"
#include "store/rulestore.h"
#include "store/storeerror.h"
#include "store/visitstore.h"

#include <QSysInfo>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

namespace winwarden {

VisitFiller::VisitFiller() : m_station(QSysInfo::machineHostName()), m_ownUid(qint64(::getuid())) {}

QString VisitFiller::UserName(qint64 uid) {
    if (const auto found = m_names.constFind(uid); found != m_names.cend()) {
        return *found;
    }
    QString name = QString::number(uid);
    passwd entry{};
    passwd* result = nullptr;
    char buffer[4096];
    if (uid >= 0 && ::getpwuid_r(uid_t(uid), &entry, buffer, sizeof buffer, &result) == 0 &&
        result) {
        name = QString::fromLocal8Bit(result->pw_name);
    }
    m_names.insert(uid, name);
    return name;
}

void VisitFiller::Fill(VisitRow& row) {
    if (row.uid < 0) {
        row.uid = m_ownUid;
    }
    if (row.user.isEmpty()) {
        row.user = UserName(row.uid);
    }
    row.station = m_station;
    row.title.truncate(kMaxTitle);
    row.url.truncate(kMaxUrl);
    if (row.host.isEmpty()) {
        row.host = DisplayHost(PageHost(row.url));
    }
}

struct VisitWriter::Shared {
    struct Ended {
        qint64 sequence = 0; // in the order handed: what a written batch took from the front
        TrackedVisit visit;
    };

    // Taken before `lock` wherever both are held.
    std::mutex commit; // held from a batch's first statement until its outcome is known here
    mutable std::mutex lock;
    std::condition_variable wake;
    std::condition_variable written;
    // Under `lock`:
    std::vector<VisitBatch> incoming; // handed over, not yet taken
    std::deque<Ended> ended;
    qint64 lastSequence = 0;
    QHash<qint64, VisitRow> open; // by serial, as last handed
    QHash<qint64, qint64> ids;    // serial -> 编号, of visits stored while open
    QString store;
    qint64 wallMs = 0;
    qint64 monotonicMs = 0;
    int keepDays = 90;
    bool pruneNow = false;
    quint64 handed = 0;
    quint64 tried = 0;
    bool quit = false;
    bool running = true;
    int maxWaiting = kMaxWaiting;
    qint64 lost = 0;
    QString failure;

    // The batches handed over, in the state the next write starts from.
    void Take() {
        for (VisitBatch& batch : incoming) {
            for (TrackedVisit& visit : batch.ended) {
                open.remove(visit.serial);
                ended.push_back({++lastSequence, std::move(visit)});
            }
            for (TrackedVisit& visit : batch.opened) {
                open.insert(visit.serial, std::move(visit.row));
            }
            for (const VisitBatch::Progress& progress : batch.progress) {
                if (const auto found = open.find(progress.serial); found != open.end()) {
                    found->end = progress.end;
                    found->frontMs = progress.frontMs;
                }
            }
            store = std::move(batch.store);
            wallMs = batch.wallMs;
            monotonicMs = batch.monotonicMs;
            keepDays = batch.keepDays;
            pruneNow = pruneNow || batch.pruneNow;
        }
        incoming.clear();
        Bound();
    }

    void Bound() {
        while (ended.size() > size_t(std::max(maxWaiting, 0))) {
            ids.remove(ended.front().visit.serial);
            ended.pop_front();
            ++lost;
        }
    }
};

VisitWriter::VisitWriter() : m_shared(std::make_shared<Shared>()) {
    m_thread = std::thread(&VisitWriter::Run, m_shared);
}

VisitWriter::~VisitWriter() {
    std::unique_lock guard(m_shared->lock);
    m_shared->quit = true;
    m_shared->wake.notify_all();
    if (m_shared->written.wait_for(guard, std::chrono::milliseconds(kQuitWaitMs),
                                   [this] { return !m_shared->running; })) {
        guard.unlock();
        m_thread.join();
    } else {
        // The thread holds what it needs; it ends when its statement does.
        guard.unlock();
        m_thread.detach();
    }
}

void VisitWriter::Hand(VisitBatch batch) {
    {
        std::lock_guard guard(m_shared->lock);
        m_shared->incoming.push_back(std::move(batch));
        // A writer that has not taken the last one (a statement that waits on a server) is
        // caught up here, so that what waits stays within the bound.
        if (m_shared->incoming.size() > 1) {
            m_shared->Take();
        }
        ++m_shared->handed;
    }
    m_shared->wake.notify_one();
}

bool VisitWriter::WaitWritten(int timeoutMs) {
    std::unique_lock guard(m_shared->lock);
    const quint64 handed = m_shared->handed;
    return m_shared->written.wait_for(guard, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                                      [&] { return m_shared->tried >= handed; });
}

void VisitWriter::SetWaitingBound(int visits) {
    std::lock_guard guard(m_shared->lock);
    m_shared->maxWaiting = std::max(visits, 0);
}

std::pair<std::vector<VisitRow>, UnstoredVisits>
VisitWriter::Read(const std::function<std::vector<VisitRow>()>& readStore) {
    std::lock_guard commit(m_shared->commit);
    std::vector<VisitRow> stored = readStore ? readStore() : std::vector<VisitRow>();
    std::lock_guard guard(m_shared->lock);
    m_shared->Take();
    UnstoredVisits unstored;
    unstored.ended.reserve(m_shared->ended.size());
    for (const Shared::Ended& ended : m_shared->ended) {
        unstored.ended.push_back(ended.visit);
    }
    unstored.ids = m_shared->ids;
    return {std::move(stored), std::move(unstored)};
}

QString VisitWriter::Failure() const {
    std::lock_guard guard(m_shared->lock);
    return m_shared->failure;
}

int VisitWriter::Waiting() const {
    std::lock_guard guard(m_shared->lock);
    size_t waiting = m_shared->ended.size();
    for (const VisitBatch& batch : m_shared->incoming) {
        waiting += batch.ended.size();
    }
    return int(waiting);
}

qint64 VisitWriter::Lost() const {
    std::lock_guard guard(m_shared->lock);
    return m_shared->lost;
}

void VisitWriter::Run(const std::shared_ptr<Shared>& shared) {
    Shared& s = *shared;
    // Background work: woken by a cycle's hand-over, the writer does not take the core from
    // the cycle (or the window) that woke it.
    ::setpriority(PRIO_PROCESS, pid_t(::gettid()), kNice);
    // This thread's own connection, opened, used and closed here.
    std::unique_ptr<RuleStore> store;
    std::unique_ptr<VisitStore> visits;
    QString storeName;
    bool pruned = false;
    qint64 lastPrune = 0; // monotonic
    VisitFiller filler;
    std::unique_lock guard(s.lock);
    for (;;) {
        s.wake.wait(guard, [&] { return s.quit || s.tried != s.handed; });
        if (s.quit) {
            break;
        }
        // What this batch writes, as it stands now: later hand-overs wait for the next one.
        s.Take();
        const quint64 target = s.handed;
        const qint64 through = s.lastSequence;
        std::vector<TrackedVisit> rows;
        rows.reserve(s.ended.size() + size_t(s.open.size()));
        for (const Shared::Ended& ended : s.ended) {
            rows.push_back(ended.visit);
        }
        const size_t endedCount = rows.size();
        for (auto it = s.open.cbegin(); it != s.open.cend(); ++it) {
            rows.push_back({it.key(), it.value()});
        }
        const QHash<qint64, qint64> ids = s.ids;
        const QString name = s.store;
        const qint64 wallMs = s.wallMs, monotonicMs = s.monotonicMs;
        const int keepDays = s.keepDays;
        if (std::exchange(s.pruneNow, false)) {
            pruned = false;
        }
        guard.unlock();

        std::vector<VisitRow*> batch;
        batch.reserve(rows.size());
        for (TrackedVisit& visit : rows) {
            filler.Fill(visit.row);
            visit.row.id = ids.value(visit.serial);
            batch.push_back(&visit.row);
        }
        QString failure;
        std::unique_lock commit(s.commit);
        try {
            if (name.isEmpty()) {
                throw StoreError(QStringLiteral("closed"), QStringLiteral("规则数据库没有打开"));
            }
            if (!store || name != storeName) {
                // A store that cannot be opened now is opened again by the next batch's
                // ReopenIfReplaced, as the monitor's own is.
                visits.reset();
                store = std::make_unique<RuleStore>();
                visits = std::make_unique<VisitStore>(*store);
                storeName = name;
                store->Open(name);
            } else {
                store->ReopenIfReplaced();
            }
            store->SetBusyTimeout(kBusyTimeoutMs);
            visits->Write(batch);
            if (!pruned || monotonicMs - lastPrune >= kPruneEveryMs) {
                visits->DeleteEndedBefore(wallMs - qint64(keepDays) * 24 * 3600 * 1000);
                lastPrune = monotonicMs;
                pruned = true;
            }
        } catch (const StoreError& error) {
            failure = error.message();
        }
        guard.lock();
        if (failure.isEmpty()) {
            while (!s.ended.empty() && s.ended.front().sequence <= through) {
                s.ended.pop_front();
            }
            for (size_t i = 0; i < rows.size(); ++i) {
                if (i < endedCount) {
                    s.ids.remove(rows[i].serial);
                } else {
                    s.ids.insert(rows[i].serial, rows[i].row.id);
                }
            }
        } else {
            s.Bound();
        }
        s.failure = failure;
        commit.unlock();
        s.tried = target;
        s.written.notify_all();
    }
    guard.unlock();
    visits.reset();
    store.reset();
    guard.lock();
    s.running = false;
    s.written.notify_all();
}

} // namespace winwarden
