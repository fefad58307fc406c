#include "enforce/enforcedecision.h"

#include "platform/browserprocesses.h"
#include "platform/peercred.h"

#include <QFileInfo>
#include <set>

using namespace Qt::StringLiterals;

namespace winwarden {

std::vector<ScannedBrowser> EnforceDecision::Decide(const ProcessScan& scan,
                                                    const std::vector<pid_t>& hosts,
                                                    Clock::time_point now) {
    std::set<ProcessIdentity> connected;
    for (const pid_t host : hosts) {
        if (const ScannedBrowser* browser = scan.BrowserOf(host)) {
            connected.insert(browser->main);
        }
    }
    std::vector<ScannedBrowser> due;
    std::map<ProcessIdentity, State> states;
    const Clock::time_point began = m_began.value_or(now);
    m_began = began;
    for (const ScannedBrowser& browser : scan.browsers) {
        const auto known = m_states.find(browser.main);
        State state = known != m_states.end()
                          ? known->second
                          : State{now, std::max(now - browser.age, began), false};
        if (connected.contains(browser.main)) {
            state.since = now;
        } else if (!state.judged && now - state.seen >= m_rules.settle &&
                   now - state.since >= m_rules.grace && m_rules.protects(browser.uid) &&
                   !m_rules.allowed(browser)) {
            state.judged = true;
            due.push_back(browser);
        }
        states.emplace(browser.main, state);
    }
    // What no longer runs is forgotten: its pid may come back as another process.
    m_states = std::move(states);
    return due;
}

QString EndedNotice(const ScannedBrowser& browser) {
    QString program = browser.executable;
    program = program.endsWith(" (deleted)"_L1) ? program.chopped(10) : program;
    program = program.isEmpty() ? browser.name : QFileInfo(program).fileName();
    QString shown = BrowserFamilyName(
        BrowserFamilyOfProgram(browser.executable.isEmpty() ? browser.name : browser.executable));
    if (shown.isEmpty()) {
        static const std::map<BrowserEngine, QString> engines{
            {BrowserEngine::Chromium, u"Chromium"_s},
            {BrowserEngine::Gecko, u"Gecko"_s},
            {BrowserEngine::WebKit, u"WebKit"_s}};
        // A renamed or unknown program: its own name, and what it is built on.
        shown = u"%1（%2 内核）"_s.arg(program, engines.at(browser.engine));
    }
    return u"用户 %1：%2 没有连上浏览哨兵扩展，已被关闭"_s.arg(UserLabel(browser.uid), shown);
}

} // namespace winwarden
