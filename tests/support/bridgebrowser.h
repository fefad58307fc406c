#pragma once

#include "tests/support/chromium.h"

namespace winwarden::test {

extern const QString kOpenerTitle;
extern const QString kBlockedTitle;

bool WriteFile(const QString& path, const QByteArray& contents);

// pages/opener.html (kOpenerTitle) opens pages/blocked.html (kBlockedTitle) in a new tab.
bool WritePages(const BrowserProcess& browser);

// Both pages are recorded as 通过 with their URLs; blocked by another program, one closes.
void RecordAndBlock(const BrowserProcess& browser);

} // namespace winwarden::test
