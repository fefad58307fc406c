#pragma once

#include <QString>
#include <vector>

namespace winwarden {

class ShellWindows;

// Page title, URL and browser family of every browser window, by position in the shell's
// window collection. A position whose window shows no web page (no HTML document, or a page of
// the browser itself) holds no title, so the cycle passes it by.
struct BrowserSnapshot {
    std::vector<QString> titles;
    std::vector<QString> urls;
    std::vector<QString> families;
    int count = 0; // windows in the last pass; 0 after a pass that could not read the collection
};

// One pass over `windows` into `snapshot`: as many entries as the collection holds.
void TakeBrowserSnapshot(const ShellWindows& windows, BrowserSnapshot& snapshot);

} // namespace winwarden
