#pragma once

#include <QString>
#include <optional>
#include <sys/types.h>

namespace winwarden {

// Who is at the other end of a connected local socket, as the kernel recorded it when the
// peer connected (or, for a server, when it began to listen): no message can change it.
struct PeerCredentials {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

// The credentials of the peer of socket `fd`; nothing when it is no local socket.
std::optional<PeerCredentials> PeerOf(qintptr fd);

// The uid of the system user `name` (the guard's "winwarden"), or nothing where there is none.
std::optional<uid_t> SystemUserId(const char* name);

// "name（uid）" for a user the system knows, else the uid: how messages name a user.
QString UserLabel(uid_t uid);

} // namespace winwarden
