#pragma once

#include <QString>
#include <QStringList>

namespace winwarden {

// The browser family a program belongs to, by the path of its executable: "chromium",
// "chrome", "brave", "edge", "vivaldi", "opera" or "firefox" (ESR included), as the companion
// extension names its own; empty for any other program.
QString BrowserFamilyOfProgram(const QString& executable);

// The family of the browser that started process `pid` (its parent): the browser a native
// host speaks for, whatever the extension inside it calls itself. Empty when the parent is no
// browser or cannot be read.
QString BrowserFamilyOfParent(qint64 pid);

// The families of the browsers that run for this user now, each once, sorted: every process
// in /proc whose owner is this user and whose executable is a browser's. Reads only the
// process folders' owners and executable links, so it costs a few milliseconds.
QStringList RunningBrowserFamilies();

// The family of the browser whose process listens on loopback TCP `port` (its DevTools
// endpoint); empty when no process of this user listens there or it is no browser.
QString BrowserFamilyListeningOn(quint16 port);

} // namespace winwarden
