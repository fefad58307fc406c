#include "match/matchindex.h"

#include "match/normalize.h"

#include <algorithm>
#include <deque>
#include <unordered_map>

namespace winwarden {

MatchIndex::MatchIndex(std::vector<MatchRule> rules) : m_rules(std::move(rules)) {
    // The lower key decides between two rules for one host or word: it is met first.
    std::stable_sort(m_rules.begin(), m_rules.end(),
                     [](const MatchRule& a, const MatchRule& b) { return a.id < b.id; });
    for (int i = 0; i < static_cast<int>(m_rules.size()); ++i) {
        const MatchRule& rule = m_rules[static_cast<size_t>(i)];
        if (rule.kind == MatchRule::Kind::Site) {
            if (const std::optional<QString> host = CanonicalHost(rule.text);
                host && !m_sites.contains(*host)) {
                m_sites.insert(*host, i);
            }
        } else if (rule.kind == MatchRule::Kind::AllWeb) {
            m_allWeb.push_back(i);
        }
    }
    BuildWords();
}

void MatchIndex::BuildWords() {
    // The trie of the words as one table of edges keyed by (node, unit), then flattened with
    // each node's edges together and sorted, and the failure links of Aho and Corasick on
    // top. No container per node: ten thousand words make a hundred thousand nodes.
    std::unordered_map<quint64, int> trie;
    std::vector<int> output(1, -1);
    const auto key = [](int node, char16_t unit) {
        return (quint64(node) << 16) | unit;
    };
    for (int i = 0; i < static_cast<int>(m_rules.size()); ++i) {
        const MatchRule& rule = m_rules[static_cast<size_t>(i)];
        if (rule.kind != MatchRule::Kind::TitleWord || !rule.blocks) {
            continue;
        }
        const QString words = NormalizeTitle(rule.text);
        if (words.isEmpty()) {
            continue; // only invisible characters: it would match every title
        }
        int node = 0;
        for (const QChar c : words) {
            const auto [edge, added] =
                trie.try_emplace(key(node, c.unicode()), static_cast<int>(output.size()));
            if (added) {
                output.push_back(-1);
            }
            node = edge->second;
        }
        if (output[static_cast<size_t>(node)] < 0) {
            output[static_cast<size_t>(node)] = i;
        }
    }
    if (output.size() == 1) {
        return;
    }
    std::vector<std::pair<quint64, int>> edges(trie.begin(), trie.end());
    std::sort(edges.begin(), edges.end());
    m_nodes.resize(output.size());
    m_edges.reserve(edges.size());
    for (const auto& [edgeKey, child] : edges) {
        Node& from = m_nodes[static_cast<size_t>(edgeKey >> 16)];
        if (from.edges == 0) {
            from.firstEdge = static_cast<int>(m_edges.size());
        }
        ++from.edges;
        m_edges.push_back({static_cast<char16_t>(edgeKey & 0xFFFF), child});
    }
    for (size_t node = 0; node < output.size(); ++node) {
        m_nodes[node].output = output[node];
    }
    std::deque<int> queue;
    const auto edgesOf = [this](int node) {
        const Node& n = m_nodes[static_cast<size_t>(node)];
        return std::pair(m_edges.begin() + n.firstEdge, m_edges.begin() + n.firstEdge + n.edges);
    };
    {
        const auto [begin, end] = edgesOf(0);
        for (auto edge = begin; edge != end; ++edge) {
            queue.push_back(edge->child);
        }
    }
    while (!queue.empty()) {
        const int node = queue.front();
        queue.pop_front();
        const auto [begin, end] = edgesOf(node);
        for (auto edge = begin; edge != end; ++edge) {
            int fail = m_nodes[static_cast<size_t>(node)].fail;
            int next = Child(fail, edge->unit);
            while (next < 0 && fail != 0) {
                fail = m_nodes[static_cast<size_t>(fail)].fail;
                next = Child(fail, edge->unit);
            }
            Node& child = m_nodes[static_cast<size_t>(edge->child)];
            child.fail = next >= 0 ? next : 0;
            // A word ending here is the longest; otherwise a shorter one ending here may.
            if (child.output < 0) {
                child.output = m_nodes[static_cast<size_t>(child.fail)].output;
            }
            queue.push_back(edge->child);
        }
    }
}

int MatchIndex::Child(int node, char16_t unit) const {
    const Node& n = m_nodes[static_cast<size_t>(node)];
    const auto begin = m_edges.begin() + n.firstEdge;
    const auto end = begin + n.edges;
    const auto found = std::lower_bound(begin, end, unit,
                                        [](const Edge& edge, char16_t u) { return edge.unit < u; });
    return found != end && found->unit == unit ? found->child : -1;
}

const MatchRule* MatchIndex::SiteFor(QStringView host) const {
    if (host.isEmpty() || m_sites.isEmpty()) {
        return nullptr;
    }
    // An address is no domain: 10.0.0.1 does not lie in "0.1".
    const bool address =
        std::all_of(host.begin(), host.end(), [](QChar c) { return c.isDigit() || c == u'.'; });
    // From the whole host down to its last label, so that the longest rule is met first.
    for (qsizetype from = 0;;) {
        const auto found = m_sites.constFind(host.sliced(from).toString());
        if (found != m_sites.cend()) {
            return &m_rules[static_cast<size_t>(*found)];
        }
        const qsizetype dot = host.indexOf(u'.', from);
        if (address || dot < 0) {
            return nullptr;
        }
        from = dot + 1;
    }
}

const MatchRule* MatchIndex::WordIn(QStringView normalizedTitle) const {
    if (m_nodes.empty()) {
        return nullptr;
    }
    int state = 0;
    for (const QChar c : normalizedTitle) {
        for (;;) {
            const int next = Child(state, c.unicode());
            if (next >= 0) {
                state = next;
                break;
            }
            if (state == 0) {
                break;
            }
            state = m_nodes[static_cast<size_t>(state)].fail;
        }
        if (const int rule = m_nodes[static_cast<size_t>(state)].output; rule >= 0) {
            return &m_rules[static_cast<size_t>(rule)];
        }
    }
    return nullptr;
}

Verdict MatchIndex::Decide(bool titleRuleBlocks, QStringView title, QStringView url) const {
    return winwarden::Decide(titleRuleBlocks, SiteFor(PageHost(url)),
                             [&] { return WordIn(NormalizeTitle(title)); });
}

TimedRules::TimedRules(std::vector<TimedRule> rules) : m_rules(std::move(rules)) {
    for (const TimedRule& rule : m_rules) {
        if (rule.schedule) {
            const std::vector<int> changes = ScheduleChanges(*rule.schedule);
            m_changes.insert(m_changes.end(), changes.begin(), changes.end());
        }
    }
    std::sort(m_changes.begin(), m_changes.end());
    m_changes.erase(std::unique(m_changes.begin(), m_changes.end()), m_changes.end());
}

bool TimedRules::Due(int minuteOfWeek) const {
    if (m_from < 0) {
        return true;
    }
    const bool inside = m_from < m_to ? minuteOfWeek >= m_from && minuteOfWeek < m_to
                                      : minuteOfWeek >= m_from || minuteOfWeek < m_to;
    return !inside;
}

std::optional<int> TimedRules::NextChange(int minuteOfWeek) const {
    if (m_changes.empty()) {
        return std::nullopt;
    }
    const auto next = std::upper_bound(m_changes.begin(), m_changes.end(), minuteOfWeek);
    return next == m_changes.end() ? m_changes.front() : *next;
}

std::vector<MatchRule> TimedRules::BeginningAt(int minuteOfWeek) const {
    const int before = (minuteOfWeek + kMinutesPerWeek - 1) % kMinutesPerWeek;
    std::vector<MatchRule> beginning;
    for (const TimedRule& timed : m_rules) {
        if (timed.schedule && ScheduleHolds(*timed.schedule, minuteOfWeek) &&
            !ScheduleHolds(*timed.schedule, before)) {
            beginning.push_back(timed.rule);
        }
    }
    return beginning;
}

std::vector<MatchRule> TimedRules::HoldingAt(int minuteOfWeek) {
    if (m_changes.empty()) {
        m_from = m_to = 0; // one stretch, the whole week
    } else {
        const auto next = std::upper_bound(m_changes.begin(), m_changes.end(), minuteOfWeek);
        m_to = next == m_changes.end() ? m_changes.front() : *next;
        m_from = next == m_changes.begin() ? m_changes.back() : *(next - 1);
    }
    std::vector<MatchRule> holding;
    holding.reserve(m_rules.size());
    for (const TimedRule& timed : m_rules) {
        if (!timed.schedule || ScheduleHolds(*timed.schedule, minuteOfWeek)) {
            holding.push_back(timed.rule);
        }
    }
    return holding;
}

QStringList MatchIndex::Sites(bool blocking) const {
    QStringList hosts;
    for (auto site = m_sites.cbegin(); site != m_sites.cend(); ++site) {
        const MatchRule& rule = m_rules[static_cast<size_t>(site.value())];
        if ((rule.blocks && rule.allowance == 0) == blocking) {
            hosts.append(site.key());
        }
    }
    hosts.sort();
    return hosts;
}

} // namespace winwarden
