#pragma once

#include "store/databasename.h"

#include <QSqlDatabase>
#include <QStringList>

namespace winwarden {

// The table 窗口名表 in an existing database on a server (CreateRuleDatabase and
// CheckRuleDatabase call these for a postgresql:// name).
void CreatePostgresRuleTable(const DatabaseLocation& location);
void CheckPostgresRuleTable(const DatabaseLocation& location);

// What is wrong with a rule table whose columns, in order, carry `names`; empty when nothing.
QString RuleColumnsProblem(const QStringList& names);

// What keeps the match rules from being read, where there is a table of them (the monitor
// reads it every cycle); empty when nothing.
QString MatchTableProblem(const QSqlDatabase& db);

} // namespace winwarden
