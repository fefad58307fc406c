#pragma once

#include <QString>

class QLocalServer;

namespace winwarden {

// Makes `server` listen at `path` with the socket options it has been given. With access
// options Qt binds elsewhere and renames the socket into place, which would silently replace
// a running program's socket: a socket that answers is left alone, and one left behind by a
// program that is gone is taken over. False, with the reason, when it does not listen.
bool ListenOnce(QLocalServer& server, const QString& path, QString* error);

} // namespace winwarden
