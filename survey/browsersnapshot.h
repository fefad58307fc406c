#pragma once

#include <QString>
#include <array>

namespace winwarden {

class ShellWindows;

// Page title and URL of every browser window, by position in the shell's window collection.
// Entries of positions that show no HTML document keep what an earlier pass left there.
struct BrowserSnapshot {
    static constexpr int kCapacity = 1000;
    std::array<QString, kCapacity> titles;
    std::array<QString, kCapacity> urls;
    int count = 0; // windows reported by the last pass; 0 during a pass and after a failed one
};

// The process-wide snapshot that the monitor cycle reads.
BrowserSnapshot& TheBrowserSnapshot();

// One pass over `windows` into `snapshot`. Never writes outside the tables: more than
// kCapacity windows are read up to the capacity and the count is capped.
void TakeBrowserSnapshot(ShellWindows& windows, BrowserSnapshot& snapshot);

// One pass over the watched browsers into the process-wide snapshot.
void TakeBrowserSnapshot();

} // namespace winwarden
