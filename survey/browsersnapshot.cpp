#include "survey/browsersnapshot.h"

#include "survey/shellwindows.h"

namespace winwarden {

void TakeBrowserSnapshot(const ShellWindows& windows, BrowserSnapshot& snapshot) {
    snapshot.count = 0;
    snapshot.titles.clear();
    snapshot.urls.clear();
    if (!windows.Create()) {
        return;
    }
    const int count = windows.Count();
    snapshot.titles.resize(static_cast<size_t>(count));
    snapshot.urls.resize(static_cast<size_t>(count));
    for (int position = 0; position < count; ++position) {
        const BrowserWindow& item = windows.ItemAt(position);
        if (item.kind == BrowserWindow::Kind::HtmlDocument) {
            const auto index = static_cast<size_t>(position);
            snapshot.titles[index] = item.title;
            snapshot.urls[index] = item.url;
        }
    }
    snapshot.count = count;
}

} // namespace winwarden
