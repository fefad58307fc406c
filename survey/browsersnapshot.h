#pragma once

#include <QString>
#include <vector>

namespace winwarden {

class ShellWindows;

// Page title and URL of every browser window, by position in the shell's window collection.
// A position whose window shows no HTML document holds no title, so the cycle passes it by.
struct BrowserSnapshot {
    std::vector<QString> titles;
    std::vector<QString> urls;
    int count = 0; // windows in the last pass; 0 after a pass that could not read the collection
};

// One pass over `windows` into `snapshot`: as many entries as the collection holds.
void TakeBrowserSnapshot(const ShellWindows& windows, BrowserSnapshot& snapshot);

} // namespace winwarden
