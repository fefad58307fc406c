#include "engine/visitrecorder.h"

#include <QRandomGenerator>

namespace winwarden {

VisitRecorder::VisitRecorder(RuleStore& store) : m_store(store), m_visits(store) {}

void VisitRecorder::Record(const std::vector<VisitSighting>& pages, const Clock& clock) {
    const qint64 now = clock.MonotonicMs();
    if (m_keepDays > 0) {
        m_tracker.Observe(pages, now, clock.Now().toMSecsSinceEpoch());
        for (TrackedVisit& visit : m_tracker.TakeEnded()) {
            m_waiting.push_back(std::move(visit));
        }
    }
    // The first cycle hands a batch at once, and so does the first after a new number of days
    // to keep: the old visits go when the monitor starts or the setting changes. On a server,
    // the first comes at a moment of the first period picked at random instead: the stations of
    // a classroom switched on together would otherwise all connect their writers at once, on
    // top of their own connections.
    if (!m_lastHand && m_store.IsOpen() && m_store.IsPostgres()) {
        m_lastHand = now - QRandomGenerator::global()->bounded(m_writeEveryMs);
    }
    if (!m_lastHand || now - *m_lastHand >= m_writeEveryMs || m_pruneNow) {
        Hand(clock);
    }
}

void VisitRecorder::Stop(const Clock& clock) {
    m_tracker.EndAll(clock.MonotonicMs());
    for (TrackedVisit& visit : m_tracker.TakeEnded()) {
        m_waiting.push_back(std::move(visit));
    }
    Write(clock);
}

bool VisitRecorder::Write(const Clock& clock, int timeoutMs) {
    Hand(clock);
    return m_writer.WaitWritten(timeoutMs) && m_writer.Failure().isEmpty();
}

void VisitRecorder::Hand(const Clock& clock) {
    VisitBatch batch;
    batch.monotonicMs = clock.MonotonicMs();
    batch.wallMs = clock.Now().toMSecsSinceEpoch();
    m_lastHand = batch.monotonicMs;
    batch.ended = std::exchange(m_waiting, {});
    // An open visit goes over in full once; after that only how far it has got.
    for (TrackedVisit* visit : m_tracker.OpenVisits()) {
        if (visit->handed) {
            batch.progress.push_back({visit->serial, visit->row.end, visit->row.frontMs});
        } else {
            batch.opened.push_back(*visit);
            visit->handed = true;
        }
    }
    batch.store = m_store.IsOpen() ? m_store.Path() : QString();
    batch.keepDays = m_keepDays;
    batch.pruneNow = std::exchange(m_pruneNow, false);
    m_writer.Hand(std::move(batch));
}

std::vector<VisitRow> VisitRecorder::Merge(std::vector<VisitRow> stored, UnstoredVisits unstored,
                                           const VisitQuery& query) {
    QHash<qint64, size_t> byId;
    for (size_t i = 0; i < stored.size(); ++i) {
        byId.insert(stored[i].id, i);
    }
    // A visit the store holds as it was while open is shown as it is now, in its place.
    const auto take = [&](const TrackedVisit& visit) {
        VisitRow row = visit.row;
        m_filler.Fill(row);
        if ((query.uid && row.uid != *query.uid) ||
            (!query.uid && !query.user.isEmpty() && row.user != query.user) ||
            (query.since > 0 && row.end < query.since) ||
            (query.until > 0 && row.start >= query.until)) {
            return;
        }
        row.id = unstored.ids.value(visit.serial);
        if (const auto found = byId.constFind(row.id); row.id > 0 && found != byId.cend()) {
            stored[*found] = std::move(row);
        } else {
            stored.push_back(std::move(row));
        }
    };
    for (const TrackedVisit& visit : unstored.ended) {
        take(visit);
    }
    for (const TrackedVisit& visit : m_waiting) {
        take(visit);
    }
    for (const TrackedVisit* visit : m_tracker.OpenVisits()) {
        take(*visit);
    }
    std::stable_sort(stored.begin(), stored.end(),
                     [](const VisitRow& a, const VisitRow& b) { return a.start < b.start; });
    return stored;
}

std::vector<VisitRow> VisitRecorder::Unwritten(const VisitQuery& query) {
    auto [none, unstored] = m_writer.Read({});
    return Merge({}, std::move(unstored), query);
}

std::vector<VisitRow> VisitRecorder::List(const VisitQuery& query) {
    auto [stored, unstored] = m_writer.Read([&] { return m_visits.List(query); });
    return Merge(std::move(stored), std::move(unstored), query);
}

QStringList VisitRecorder::Notices() const {
    QStringList notices;
    if (const QString failure = m_writer.Failure(); !failure.isEmpty()) {
        notices << QStringLiteral("访问记录暂时无法写入（%1 条等待写入）：%2")
                       .arg(Waiting())
                       .arg(failure);
    }
    if (const qint64 lost = m_writer.Lost(); lost > 0) {
        notices << QStringLiteral("访问记录写入失败，已丢失 %1 条访问记录").arg(lost);
    }
    return notices;
}

} // namespace winwarden
