#include "survey/browsersnapshot.h"

#include "survey/pagetitle.h"
#include "survey/shellwindows.h"

namespace winwarden {

void TakeBrowserSnapshot(const ShellWindows& windows, BrowserSnapshot& snapshot) {
    snapshot.count = 0;
    snapshot.titles.clear();
    snapshot.urls.clear();
    snapshot.families.clear();
    if (!windows.Create()) {
        return;
    }
    const int count = windows.Count();
    snapshot.titles.resize(static_cast<size_t>(count));
    snapshot.urls.resize(static_cast<size_t>(count));
    snapshot.families.resize(static_cast<size_t>(count));
    for (int position = 0; position < count; ++position) {
        const BrowserWindow& item = windows.ItemAt(position);
        if (IsWebPage(item)) {
            const auto index = static_cast<size_t>(position);
            snapshot.titles[index] = item.title;
            snapshot.urls[index] = item.url;
            snapshot.families[index] = item.family;
        }
    }
    snapshot.count = count;
}

} // namespace winwarden
