#pragma once

#include "monitor/winwardenview.h"
#include "survey/browsersnapshot.h"
#include "tests/support/fakes.h"
#include "tests/support/testdb.h"

namespace winwarden::test {

// A real view over a fresh rule database, watching fake windows.
struct ViewRig {
    TempRuleDb db;
    BrowserSnapshot snapshot;
    FakeShellWindows shell;
    FakeTopLevelWindows windows;
    CWinwardenView view{nullptr, {&shell, &windows, &snapshot, db.path()}};
};

} // namespace winwarden::test
