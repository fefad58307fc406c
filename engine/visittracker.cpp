#include "engine/visittracker.h"

#include "store/flag.h"

namespace winwarden {

void VisitTracker::Advance(Open& open, qint64 monotonicMs) {
    const qint64 step = std::max<qint64>(monotonicMs - open.lastMonotonic, 0);
    if (open.lastInFront && open.visit.row.frontMs) {
        *open.visit.row.frontMs += step;
    }
    open.lastMonotonic = std::max(monotonicMs, open.lastMonotonic);
    open.visit.row.end = open.visit.row.start + (open.lastMonotonic - open.startMonotonic);
}

void VisitTracker::End(Open& open, qint64 monotonicMs) {
    Advance(open, monotonicMs);
    m_ended.push_back(std::move(open.visit));
}

void VisitTracker::Observe(const std::vector<VisitSighting>& pages, qint64 monotonicMs,
                           qint64 wallMs) {
    ++m_cycle;
    for (const VisitSighting& page : pages) {
        const TabKey key{page.handle.source, page.handle.browser, page.handle.id, page.uid};
        auto found = m_open.find(key);
        if (found != m_open.end() && found->cycle == m_cycle) {
            continue; // one tab reported twice in a pass counts once
        }
        if (found != m_open.end() &&
            (found->visit.row.title != page.title || found->visit.row.url != page.url ||
             (found->visit.row.result == kFlagBlock) != page.blocked)) {
            End(*found, monotonicMs);
            m_open.erase(found);
            found = m_open.end();
        }
        if (found == m_open.end()) {
            Open open;
            open.visit.serial = ++m_serial;
            open.visit.row.uid = page.uid;
            open.visit.row.title = page.title;
            open.visit.row.url = page.url;
            open.visit.row.start = wallMs;
            open.visit.row.end = wallMs;
            open.visit.row.result = page.blocked ? kFlagBlock : kFlagPass;
            open.visit.row.rule = page.blocked ? page.rule : QString();
            open.startMonotonic = monotonicMs;
            open.lastMonotonic = monotonicMs;
            found = m_open.insert(key, std::move(open));
        } else {
            Advance(*found, monotonicMs);
        }
        found->cycle = m_cycle;
        found->lastInFront = page.inFront.value_or(false);
        if (page.inFront && !found->visit.row.frontMs) {
            found->visit.row.frontMs = 0;
        }
    }
    for (auto it = m_open.begin(); it != m_open.end();) {
        if (it->cycle != m_cycle) {
            End(*it, monotonicMs);
            it = m_open.erase(it);
        } else {
            ++it;
        }
    }
}

void VisitTracker::EndAll(qint64 monotonicMs) {
    for (Open& open : m_open) {
        End(open, monotonicMs);
    }
    m_open.clear();
}

std::vector<TrackedVisit> VisitTracker::TakeEnded() {
    return std::exchange(m_ended, {});
}

std::vector<TrackedVisit*> VisitTracker::OpenVisits() {
    std::vector<TrackedVisit*> rows;
    rows.reserve(size_t(m_open.size()));
    for (Open& open : m_open) {
        rows.push_back(&open.visit);
    }
    return rows;
}

} // namespace winwarden
