#include "app/browsersources.h"

#include "sources/bridge/bridgesource.h"
#include "sources/devtools/devtoolssource.h"

namespace winwarden {

std::unique_ptr<BrowserSource> MakeWatchedBrowsers() {
    std::vector<std::unique_ptr<BrowserSource>> sources;
    sources.push_back(MakeBridgeSource());
    sources.push_back(MakeDevToolsSource());
    return MakeBrowserSourceUnion(std::move(sources));
}

} // namespace winwarden
