#pragma once

#include <QString>

namespace winwarden {

// Copies every rule of the rule database `from` into `to` (each a file or a postgresql:// URI),
// oldest first, names, flags and URLs exactly, NULLs as NULLs. `to` must hold an empty rule
// table, or be a file that does not exist yet, which is then created. All rules arrive or, on
// a failure, none (and a file made here is removed again). Returns the number copied; throws
// StoreError.
int CopyRules(const QString& from, const QString& to);

} // namespace winwarden
