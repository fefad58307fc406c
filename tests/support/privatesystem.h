#pragma once

#include <QByteArray>
#include <QStringList>
#include <functional>

namespace winwarden::test {

// Every entry under the folders, with its mode and its contents' hash.
QByteArray Snapshot(const QStringList& folders);

// The system folders an install for every user writes to, as far as this machine has them.
QStringList SystemFolders();

// Runs `body` in this program run again in private namespaces with copies over SystemFolders().
int RunWithPrivateSystemFolders(int argc, char** argv, const std::function<int()>& body);

} // namespace winwarden::test
