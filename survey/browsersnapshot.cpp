#include "survey/browsersnapshot.h"

#include "survey/shellwindows.h"

#include <algorithm>

namespace winwarden {

BrowserSnapshot& TheBrowserSnapshot() {
    static BrowserSnapshot snapshot;
    return snapshot;
}

void TakeBrowserSnapshot(ShellWindows& windows, BrowserSnapshot& snapshot) {
    snapshot.count = 0;
    if (!windows.Create()) {
        return;
    }
    const int count = std::min(windows.Count(), BrowserSnapshot::kCapacity);
    if (count <= 0) {
        return;
    }
    for (int position = 0; position < count; ++position) {
        const ShellWindows::Item item = windows.ItemAt(position);
        // Any other kind of window leaves what an earlier pass stored at this position.
        if (item.kind == ShellWindows::Item::Kind::HtmlDocument) {
            const auto index = static_cast<size_t>(position);
            snapshot.titles[index] = item.title;
            snapshot.urls[index] = item.url;
        }
    }
    snapshot.count = count;
}

void TakeBrowserSnapshot() {
    static const std::unique_ptr<ShellWindows> windows = MakeDevToolsShellWindows();
    TakeBrowserSnapshot(*windows, TheBrowserSnapshot());
}

} // namespace winwarden
