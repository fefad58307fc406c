#pragma once

#include <QStringList>
#include <functional>

namespace winwarden::test {

// The system folders an install for every user writes to, as far as this machine has them.
QStringList SystemFolders();

// Runs `body` in this program run again in private namespaces with copies over SystemFolders().
int RunWithPrivateSystemFolders(int argc, char** argv, const std::function<int()>& body);

} // namespace winwarden::test
