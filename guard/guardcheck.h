#pragma once

#include "guard/guard.h"

namespace winwarden {

// winwarden-guard --check: whether the service, the bridge socket, the rule store and the
// browsers' policies are in order, one line each on standard output. 0 when all are, 1 when
// something is not.
int RunGuardCheck(const GuardPaths& paths);

} // namespace winwarden
