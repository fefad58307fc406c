#pragma once

#include "survey/browsersource.h"

#include <memory>

namespace winwarden {

// Every browser the program watches: the union of the active browser sources.
std::unique_ptr<BrowserSource> MakeWatchedBrowsers();

} // namespace winwarden
