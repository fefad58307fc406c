#pragma once

#include <QString>

namespace winwarden {

// True when `title` is a browser's stand-in for a page without a title: the page's URL as the
// browser displays it. Such a page is untitled for the monitor, whichever source reports it.
bool IsUrlStandInTitle(const QString& title, const QString& url);

} // namespace winwarden
