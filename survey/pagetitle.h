#pragma once

#include <QString>

namespace winwarden {

// True when `title` is a browser's stand-in for a page without a title: the page's URL as the
// browser displays it. Such a page is untitled for the monitor, whichever source reports it.
bool IsUrlStandInTitle(const QString& title, const QString& url);

// True for a page of the browser itself (a new tab, settings, an extension's page, view-source:,
// about:) or one without an address: no web page, so it is neither recorded nor listed nor
// closed. A file: page is a web page.
bool IsBrowserPage(const QString& url);

// The caption a browser of `family` ("chromium", "firefox", ...) gives the window showing a page
// titled `title`; the bare title for a browser not known.
QString BrowserCaption(const QString& title, const QString& family);

} // namespace winwarden
