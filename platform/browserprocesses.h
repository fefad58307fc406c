#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace winwarden {

// The browser family a program belongs to, by the path of its executable: "chromium",
// "chrome", "brave", "edge", "vivaldi", "opera" or "firefox" (ESR included), as the companion
// extension names its own; empty for any other program.
QString BrowserFamilyOfProgram(const QString& executable);

// A family as people know the browser ("Chromium", "Firefox"); any other as it is given.
QString BrowserFamilyName(const QString& family);

// The family of the browser that started process `pid` (its parent): the browser a native
// host speaks for, whatever the extension inside it calls itself. Empty when the parent is no
// browser or cannot be read.
QString BrowserFamilyOfParent(qint64 pid);

// A browser of one family that runs for one user.
struct RunningBrowser {
    uid_t uid = 0;
    QString family;
    bool operator==(const RunningBrowser&) const = default;
};

// The browsers that run now, each user and family once, sorted: every process in /proc whose
// executable is a browser's, only those of `owner` when it is given. Reads only the process
// folders' owners, executable links and command lines, so it costs a few milliseconds. Where
// another user's executable link is closed to us (a service without CAP_SYS_PTRACE), the
// program named first on its command line stands in for it.
std::vector<RunningBrowser> RunningBrowsers(std::optional<uid_t> owner);

// The families of the browsers that run for this user now, each once, sorted.
QStringList RunningBrowserFamilies();

// The family of the browser whose process listens on loopback TCP `port` (its DevTools
// endpoint); empty when no process of this user listens there or it is no browser.
QString BrowserFamilyListeningOn(quint16 port);

} // namespace winwarden
