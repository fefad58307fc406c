#pragma once

#include <QStringList>
#include <functional>

namespace winwarden::test {

// The system folders that an install for every user writes to (or, for /etc/opt/chrome, the
// folder it is made in), as far as this machine has them.
QStringList SystemFolders();

// Runs this test program again inside private mount and process namespaces, where a copy of
// each of SystemFolders() is bound over the real one and /proc shows only the test's own
// processes (every one of which ends with it), and runs `body` there. Afterwards, back outside,
// checks that the real folders are exactly as they were. Returns the exit status for main.
int RunWithPrivateSystemFolders(int argc, char** argv, const std::function<int()>& body);

} // namespace winwarden::test
