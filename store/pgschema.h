#pragma once

#include "store/databasename.h"

#include <QStringList>

namespace winwarden {

// The table 窗口名表 in an existing database on a server (CreateRuleDatabase and
// CheckRuleDatabase call these for a postgresql:// name).
void CreatePostgresRuleTable(const DatabaseLocation& location);
void CheckPostgresRuleTable(const DatabaseLocation& location);

// What is wrong with a rule table whose columns, in order, carry `names`; empty when nothing.
QString RuleColumnsProblem(const QStringList& names);

} // namespace winwarden
