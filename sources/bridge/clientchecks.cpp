#include "sources/bridge/clientchecks.h"

#include <QSet>
#include <algorithm>

using namespace std::chrono_literals;

namespace winwarden {

namespace {

constexpr auto kBudgetWindow = 1min;
constexpr auto kEpisode = 1min;     // events of one key closer than this are one occurrence
constexpr auto kEventShown = 10min; // how long an event stays among the notices

} // namespace

bool NewTitleBudget::Take(uid_t uid, const std::vector<BridgeTab>& tabs,
                          const std::vector<BridgeTab>& previous, BridgeClock::time_point now) {
    QHash<QString, BridgeClock::time_point>& recent = m_recent[uid];
    recent.removeIf([&](const auto& entry) { return now - entry.value() >= kBudgetWindow; });
    QSet<QString> before;
    before.reserve(qsizetype(previous.size()));
    for (const BridgeTab& tab : previous) {
        before.insert(tab.title);
    }
    QSet<QString> fresh;
    for (const BridgeTab& tab : tabs) {
        if (!before.contains(tab.title) && !recent.contains(tab.title)) {
            fresh.insert(tab.title);
            if (recent.size() + fresh.size() > kPerMinute) {
                return false;
            }
        }
    }
    for (const QString& title : std::as_const(fresh)) {
        recent.insert(title, now);
    }
    if (recent.isEmpty()) {
        m_recent.erase(uid);
    }
    return true;
}

void TamperLog::Hold(const QStringList& notices) {
    for (const QString& notice : notices) {
        if (!m_held.contains(notice)) {
            m_say(notice);
        }
    }
    m_held = notices;
}

void TamperLog::Happened(const QString& key, const QString& notice, const QString& detail,
                         BridgeClock::time_point now) {
    const auto found = m_events.find(key);
    if (found == m_events.end() || now - found->second.last >= kEpisode) {
        m_say(detail.isEmpty() ? notice : notice + u'（' + detail + u'）');
    }
    m_events[key] = Event{notice, now};
}

QStringList TamperLog::Recent(BridgeClock::time_point now) {
    std::erase_if(m_events,
                  [&](const auto& event) { return now - event.second.last >= kEventShown; });
    std::vector<const Event*> events;
    for (const auto& [key, event] : m_events) {
        events.push_back(&event);
    }
    std::sort(events.begin(), events.end(),
              [](const Event* a, const Event* b) { return a->last < b->last; });
    QStringList notices;
    for (const Event* event : events) {
        notices.append(event->notice);
    }
    return notices;
}

} // namespace winwarden
