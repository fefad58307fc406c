#pragma once

#include "platform/processscan.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace winwarden {

// What decides which browsers are ended.
struct EnforceRules {
    // How long a browser may run without a connection through the guard's bridge: after it
    // started (or the guard's first look, for a browser that ran before), or after its last
    // connection went. A browser is judged only once it was seen in two looks `settle` apart:
    // helpers whose browser has just gone may for a moment make their new parent look like one.
    std::chrono::milliseconds grace{10000};
    std::chrono::milliseconds settle{1000};
    // Whose browsers are ended at all: never root's or an administrator's.
    std::function<bool(uid_t)> protects;
    // The programs built on a browser engine that an administrator trusts.
    std::function<bool(const ScannedBrowser&)> allowed;
};

// Which running browsers the guard cannot watch: one cycle at a time, over what a scan of the
// processes saw and which hosts are connected through the bridge now. A browser counts as
// connected when one of the connected hosts runs in its tree (its nearest browser, so that a
// browser started from another's terminal has its own connection or none). Each browser is
// judged on its own, never by its user or family: a second Chromium beside one that is
// connected is not.
class EnforceDecision final {
public:
    using Clock = std::chrono::steady_clock;

    explicit EnforceDecision(EnforceRules rules) : m_rules(std::move(rules)) {}

    // The browsers to end now, each once in its life. One that ended within its grace was never
    // due; one seen again after it was judged is not judged twice.
    std::vector<ScannedBrowser> Decide(const ProcessScan& scan, const std::vector<pid_t>& hosts,
                                       Clock::time_point now);

private:
    struct State {
        Clock::time_point seen;  // first seen
        Clock::time_point since; // started, or last seen connected
        bool judged = false;
    };
    EnforceRules m_rules;
    std::optional<Clock::time_point> m_began; // the first look
    std::map<ProcessIdentity, State> m_states;
};

// The notice for a browser that was ended: "用户 alice（1001）：Chromium
// 没有连上浏览哨兵扩展，已被关闭".
QString EndedNotice(const ScannedBrowser& browser);

} // namespace winwarden
