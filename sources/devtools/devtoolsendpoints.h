#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace winwarden {

// An entry of WINWARDEN_DEVTOOLS that is not watched, and why.
struct RefusedEndpoint {
    QString entry;
    QString reason;
    bool operator==(const RefusedEndpoint&) const = default;
};

struct DevToolsEndpoints {
    QStringList endpoints; // "host:port" of each watched browser, in the order given
    std::vector<RefusedEndpoint> refused;
};

// Reads a WINWARDEN_DEVTOOLS value: comma-separated entries, each `host:port` (`[::1]:port`
// for IPv6) or the path of a DevToolsActivePort file, whose first line is a port on
// 127.0.0.1. Only loopback hosts are accepted: 127.0.0.0/8, ::1 and localhost. A value that
// is null or blank stands for 127.0.0.1:9222. Reads the files it names and nothing else.
DevToolsEndpoints ParseDevToolsEndpoints(const QString& value);

// The browsers named by WINWARDEN_DEVTOOLS now (file entries are read afresh each time, since
// a browser writes a new port on every start). Each refused entry is reported once per
// process, as one line on standard error.
QStringList WatchedDevToolsEndpoints();

// True for a "host:port" that ParseDevToolsEndpoints would accept as it stands.
bool IsLoopbackEndpoint(const QString& endpoint);

} // namespace winwarden
