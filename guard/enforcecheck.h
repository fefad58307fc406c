#pragma once

#include "guard/guard.h"

#include <QString>
#include <vector>

namespace winwarden {

// One line of winwarden-guard --check about ending browsers: in order, worth knowing (a way
// around the guard that the system leaves open), or a problem.
struct EnforceCheckLine {
    enum class Kind { Fine, Note, Problem };
    Kind kind;
    QString text;
};

// Whether enforcement is on, whom it protects, whether the allowed programs are safe to trust,
// and whether the protected users can run programs from their home, /tmp or /dev/shm (where a
// downloaded browser runs from).
std::vector<EnforceCheckLine> CheckEnforcement(const GuardPaths& paths);

} // namespace winwarden
