#pragma once

#include <QByteArray>
#include <QStringList>
#include <functional>

namespace winwarden::test {

// Every entry under the folders (or the files named), with its mode and its contents' hash.
QByteArray Snapshot(const QStringList& folders);

// The system folders an install for every user writes to, as far as this machine has them.
QStringList SystemFolders();

// Runs `body` in this program run again in private mount and PID namespaces, with writable
// overlays (on a private tmpfs) over /etc, /var, /run, /usr/local and the browsers' folders
// under /usr that an install writes to. Outside, checks that the real ones did not change.
int RunWithPrivateSystemFolders(int argc, char** argv, const std::function<int()>& body);

} // namespace winwarden::test
