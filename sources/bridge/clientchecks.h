#pragma once

#include "platform/bridgeprotocol.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <map>
#include <sys/types.h>
#include <vector>

namespace winwarden {

using BridgeClock = std::chrono::steady_clock;

// How many titles one user's browsers may report for the first time within a minute: a title
// counts when neither the connection's last list nor any list of that user in the last minute
// held it. A person who opens a page a second, a page whose title ticks every second and a
// browser that restores a session of two thousand tabs all stay far below it; a client that
// invents titles to fill the rule database goes over in a second, and is cut off. Memory stays
// bounded by the limit.
class NewTitleBudget final {
public:
    static constexpr int kPerMinute = 3000;

    // Takes one tab list of a connection of `uid`, whose last list was `previous`. False, and
    // nothing taken, when its new titles would put the user over the limit.
    bool Take(uid_t uid, const std::vector<BridgeTab>& tabs, const std::vector<BridgeTab>& previous,
              BridgeClock::time_point now);

private:
    std::map<uid_t, QHash<QString, BridgeClock::time_point>> m_recent; // title -> first seen
};

// Tampering that an administrator should hear of, each once per occurrence: through `say`
// (standard error, the journal under systemd) and among the notices of the passes.
class TamperLog final {
public:
    explicit TamperLog(std::function<void(const QString&)> say) : m_say(std::move(say)) {}

    // The notices that hold now (a browser without its extension, ...): each is said when it
    // appears, and again only after it went away and came back.
    void Hold(const QStringList& notices);
    // Something that happened (a client cut off): said unless the same key was said within the
    // last minute, so that a client which keeps coming back is one occurrence; among the
    // notices for ten minutes. `detail` goes to the log only.
    void Happened(const QString& key, const QString& notice, const QString& detail,
                  BridgeClock::time_point now);
    // The notices of what happened in the last ten minutes, oldest first.
    QStringList Recent(BridgeClock::time_point now);

private:
    struct Event {
        QString notice;
        BridgeClock::time_point last;
    };
    std::function<void(const QString&)> m_say;
    QStringList m_held;
    std::map<QString, Event> m_events; // by key
};

} // namespace winwarden
