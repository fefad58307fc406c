#include "engine/visitrecorder.h"

#include "store/storeerror.h"

#include <QSysInfo>
#include <pwd.h>
#include <unistd.h>

namespace winwarden {

VisitRecorder::VisitRecorder(RuleStore& store)
    : m_store(store), m_visits(store), m_station(QSysInfo::machineHostName()),
      m_ownUid(qint64(::getuid())) {}

QString VisitRecorder::UserName(qint64 uid) {
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

void VisitRecorder::Fill(VisitRow& row) {
    if (row.uid < 0) {
        row.uid = m_ownUid;
    }
    if (row.user.isEmpty()) {
        row.user = UserName(row.uid);
    }
    row.station = m_station;
    row.title.truncate(kMaxTitle);
    row.url.truncate(kMaxUrl);
}

void VisitRecorder::Record(const std::vector<VisitSighting>& pages, const Clock& clock) {
    const qint64 now = clock.MonotonicMs();
    if (m_keepDays > 0) {
        m_tracker.Observe(pages, now, clock.Now().toMSecsSinceEpoch());
        for (VisitRow& row : m_tracker.TakeEnded()) {
            m_waiting.push_back(std::move(row));
        }
    }
    if (!m_lastWrite) {
        m_lastWrite = now;
    }
    if (now - *m_lastWrite >= kWriteEveryMs || (!m_lastPrune && m_failure.isEmpty())) {
        Write(clock);
    }
}

void VisitRecorder::Stop(const Clock& clock) {
    m_tracker.EndAll(clock.MonotonicMs());
    for (VisitRow& row : m_tracker.TakeEnded()) {
        m_waiting.push_back(std::move(row));
    }
    Write(clock);
}

bool VisitRecorder::Write(const Clock& clock) {
    const qint64 now = clock.MonotonicMs();
    m_lastWrite = now;
    std::vector<VisitRow*> batch;
    batch.reserve(m_waiting.size() + size_t(m_tracker.OpenCount()));
    for (VisitRow& row : m_waiting) {
        batch.push_back(&row);
    }
    for (VisitRow* row : m_tracker.OpenVisits()) {
        batch.push_back(row);
    }
    for (VisitRow* row : batch) {
        Fill(*row);
    }
    try {
        if (!m_store.IsOpen()) {
            throw StoreError(QStringLiteral("closed"), QStringLiteral("规则数据库没有打开"));
        }
        m_visits.Write(batch);
        m_waiting.clear();
        if (!m_lastPrune || now - *m_lastPrune >= kPruneEveryMs) {
            const qint64 keepMs = qint64(m_keepDays) * 24 * 3600 * 1000;
            m_visits.DeleteEndedBefore(clock.Now().toMSecsSinceEpoch() - keepMs);
            m_lastPrune = now;
        }
        m_failure.clear();
        return true;
    } catch (const StoreError& error) {
        m_failure = error.message();
        while (m_waiting.size() > size_t(m_maxWaiting)) {
            m_waiting.pop_front();
            ++m_lost;
        }
        return false;
    }
}

std::vector<VisitRow> VisitRecorder::Unwritten(const VisitQuery& query) {
    std::vector<VisitRow> rows;
    const auto take = [&](VisitRow row) {
        Fill(row);
        if ((query.uid && row.uid != *query.uid) ||
            (!query.uid && !query.user.isEmpty() && row.user != query.user) ||
            (query.since > 0 && row.end < query.since) ||
            (query.until > 0 && row.start >= query.until)) {
            return;
        }
        rows.push_back(std::move(row));
    };
    for (const VisitRow& row : m_waiting) {
        take(row);
    }
    for (const VisitRow* row : m_tracker.OpenVisits()) {
        take(*row);
    }
    return rows;
}

std::vector<VisitRow> VisitRecorder::List(const VisitQuery& query) {
    std::vector<VisitRow> rows = m_visits.List(query);
    QHash<qint64, size_t> stored;
    for (size_t i = 0; i < rows.size(); ++i) {
        stored.insert(rows[i].id, i);
    }
    for (VisitRow& row : Unwritten(query)) {
        if (const auto found = stored.constFind(row.id); row.id > 0 && found != stored.cend()) {
            rows[*found] = std::move(row);
        } else {
            rows.push_back(std::move(row));
        }
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const VisitRow& a, const VisitRow& b) { return a.start < b.start; });
    return rows;
}

QStringList VisitRecorder::Notices() const {
    QStringList notices;
    if (!m_failure.isEmpty()) {
        notices << QStringLiteral("访问记录暂时无法写入（%1 条等待写入）：%2")
                       .arg(m_waiting.size())
                       .arg(m_failure);
    }
    if (m_lost > 0) {
        notices << QStringLiteral("访问记录写入失败，已丢失 %1 条访问记录").arg(m_lost);
    }
    return notices;
}

} // namespace winwarden
