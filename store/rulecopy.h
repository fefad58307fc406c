#pragma once

#include "store/matchstore.h"
#include "store/rulestore.h"

#include <QString>
#include <vector>

namespace winwarden {

// Copies every rule of the rule database `from` into `to` (each a file or a postgresql:// URI),
// oldest first, names, flags and URLs exactly, NULLs as NULLs, and the match rules with them.
// `to` must hold an empty rule table (and an empty 匹配规则 or none, which is then added), or be
// a file that does not exist yet, which is then created. All rules arrive or, on a failure,
// none (and a file made here is removed again). Returns the number copied; throws StoreError.
int CopyRules(const QString& from, const QString& to);

// Every rule of the rule database `name`, oldest first.
std::vector<Rule> ReadAllRules(const QString& name);
// Every match rule of the rule database `name`, oldest first; none without the table.
std::vector<MatchRuleRow> ReadAllMatchRules(const QString& name);

struct ImportCounts {
    int added = 0;
    int changed = 0;
    int skipped = 0;
};

// Merges `rules` into the rule database `name`, one name one rule: a name without a rule gets
// the imported one; a name that has one keeps it, with the imported flag when that differs
// (changed), or as it is (skipped). A rule without a name is added. Match rules the same, one
// kind and text one rule; a database without table 匹配规则 gains it when there are any. All
// or nothing.
ImportCounts ImportRules(const QString& name, const std::vector<Rule>& rules,
                         const std::vector<MatchRuleRow>& matches = {});

} // namespace winwarden
