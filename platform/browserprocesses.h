#pragma once

#include <QString>
#include <QStringList>

namespace winwarden {

// The browser family a program belongs to, by the path of its executable: "chromium",
// "chrome", "brave", "edge", "vivaldi", "opera" or "firefox" (ESR included), as the companion
// extension names its own; empty for any other program.
QString BrowserFamilyOfProgram(const QString& executable);

// The families of the browsers that run for this user now, each once, sorted: every process
// in /proc whose owner is this user and whose executable is a browser's. Reads only the
// process folders' owners and executable links, so it costs a few milliseconds.
QStringList RunningBrowserFamilies();

} // namespace winwarden
