#pragma once

#include "guard/guard.h"

#include <QStringList>

namespace winwarden {

struct GuardOptions {
    GuardPaths paths;
    bool help = false;
    bool check = false;
};

// Reads the command line (without the program's name); false when it is not understood.
bool ParseGuardOptions(const QStringList& arguments, GuardOptions& options);

// The short usage line, and the whole of --help: what the guard protects against and what not.
QString GuardUsage();
QString GuardHelp();

} // namespace winwarden
