#pragma once

#include <QString>

namespace winwarden {

// Creates a new rule database at `path` (a file, or for a postgresql:// URI the tables in an
// existing database on the server, refused when 窗口名表 exists): table 窗口名表 (an automatically
// numbered key, then 窗口名称, 是否禁止, 网址) with indexes on 窗口名称 and 网址, and table
// 匹配规则 (MatchTableStatements). The file appears
// complete or not at all, and an existing entry of that name (file, directory or symbolic link) is
// never replaced. Throws StoreError with a one-line reason on failure.
void CreateRuleDatabase(const QString& path);

// Checks, without creating or changing anything, that `path` (a file or a postgresql:// URI)
// opens read-write as a database
// whose table 窗口名表 has at least four columns, positions 1 to 3 being 窗口名称, 是否禁止 and
// 网址. Throws StoreError with a one-line reason when it does not.
void CheckRuleDatabase(const QString& path);

} // namespace winwarden
