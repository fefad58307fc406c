#pragma once

#include "match/schedule.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <vector>

namespace winwarden {

// A match rule as the decision needs it (one row of 匹配规则, read by the engine).
struct MatchRule {
    enum class Kind { Site, TitleWord, AllWeb };
    qint64 id = 0; // 编号: of two rules for one host or word, the lower decides
    Kind kind = Kind::Site;
    QString text; // 内容 as stored: a host (or a pasted address), or the words; a name (全部网页)
    bool blocks = false;
    // Minutes a day per person (match/schedule.h), 0 for none. A blocking rule with one lets a
    // person's pages through until their time today reaches it; the engine, which knows the
    // person and their time, applies it after the decision below.
    int allowance = 0;
};

// A match rule with its times; none: it holds always.
struct TimedRule {
    MatchRule rule;
    std::optional<Schedule> schedule;
};

// The match rules with their times: which of them hold at a minute of the week, and whether
// a later minute may find others holding. The times of all rules together cut the week into
// stretches in which the same rules hold, so that the index is made again only when a minute
// leaves the stretch the last answer was for (or the wall time jumped), not as time passes.
class TimedRules final {
public:
    TimedRules() = default;
    explicit TimedRules(std::vector<TimedRule> rules);

    // True until HoldingAt has answered for a minute of the same stretch.
    bool Due(int minuteOfWeek) const;
    // The rules that hold at the minute: those without times, and those whose times say so.
    std::vector<MatchRule> HoldingAt(int minuteOfWeek);
    // The next minute of the week at which the rules that hold change; none when they never do.
    std::optional<int> NextChange(int minuteOfWeek) const;
    // The rules that do not hold the minute before `minuteOfWeek` and hold at it.
    std::vector<MatchRule> BeginningAt(int minuteOfWeek) const;

private:
    std::vector<TimedRule> m_rules;
    std::vector<int> m_changes; // every rule's changes, ascending, each once
    int m_from = -1;            // the stretch last answered for: [m_from, m_to), round the week
    int m_to = -1;
};

// Which rule decided for a page.
struct Verdict {
    enum class By { Nothing, TitleRule, Site, TitleWord, AllWeb };
    By by = By::Nothing;
    bool blocked = false;
    const MatchRule* rule = nullptr; // the match rule, for Site, TitleWord and AllWeb
};

// The decision, in order: the page's own title rule blocks; else the most specific 网站 rule
// covering its host decides, blocking or allowing; else a 标题包含 rule the title matches
// blocks; else nothing decides. `word` is asked only when it comes to that.
template <typename WordLookup>
Verdict Decide(bool titleRuleBlocks, const MatchRule* site, WordLookup&& word) {
    if (titleRuleBlocks) {
        return {Verdict::By::TitleRule, true, nullptr};
    }
    if (site) {
        return {Verdict::By::Site, site->blocks, site};
    }
    if (const MatchRule* found = word()) {
        return {Verdict::By::TitleWord, true, found};
    }
    return {};
}

// The match rules made ready for many lookups: 网站 rules by canonical host, the words of the
// blocking 标题包含 rules normalised into one automaton, so that a title is read once however
// many words there are. Rules whose text names no host, or whose words normalise to nothing,
// match nothing; 标题包含 rules that do not block are ignored (they only ever block).
class MatchIndex final {
public:
    MatchIndex() = default;
    explicit MatchIndex(std::vector<MatchRule> rules);

    // The 网站 rule that decides for a canonical host: of those covering it (the host itself
    // or a domain it lies in) the longest. Null when none does.
    const MatchRule* SiteFor(QStringView host) const;
    // A blocking 标题包含 rule whose normalised words a normalised title contains, or null.
    const MatchRule* WordIn(QStringView normalizedTitle) const;
    // The whole decision for a page, its title and address as they are.
    Verdict Decide(bool titleRuleBlocks, QStringView title, QStringView url) const;

    bool HasWords() const { return !m_nodes.empty(); }
    bool HasSites() const { return !m_sites.isEmpty(); }
    // The 全部网页 rules, lowest key first: they speak of every web page no 网站 rule decides
    // for, which the engine applies with the person's allowances.
    int AllWebCount() const { return static_cast<int>(m_allWeb.size()); }
    const MatchRule& AllWeb(int i) const {
        return m_rules[static_cast<size_t>(m_allWeb[static_cast<size_t>(i)])];
    }
    // The canonical hosts of the 网站 rules that decide for them, by what they say; a blocking
    // rule with an allowance lets its site through until someone's is used up, so it counts
    // as allowing here, and the engine blocks it for that person alone.
    QStringList SitesBlocked() const { return Sites(true); }
    QStringList SitesAllowed() const { return Sites(false); }

private:
    struct Edge {
        char16_t unit;
        int child;
    };
    struct Node {
        int firstEdge = 0;
        int edges = 0;
        int fail = 0;
        int output = -1; // the rule whose words end here or at a suffix of here
    };
    int Child(int node, char16_t unit) const;
    QStringList Sites(bool blocking) const;
    void BuildWords();

    std::vector<MatchRule> m_rules;
    QHash<QString, int> m_sites; // canonical host -> deciding rule
    std::vector<int> m_allWeb;   // the 全部网页 rules
    std::vector<Node> m_nodes;   // Aho-Corasick automaton over the words' UTF-16 units
    std::vector<Edge> m_edges;   // each node's edges together, sorted by unit
};

} // namespace winwarden
