#include "platform/peercred.h"

#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace winwarden {

namespace {

std::optional<passwd> Lookup(const char* name, uid_t uid, std::vector<char>& buffer) {
    buffer.resize(16384);
    passwd entry{};
    passwd* found = nullptr;
    const int error = name != nullptr
                          ? ::getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found)
                          : ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    if (error != 0 || found == nullptr) {
        return std::nullopt;
    }
    return entry;
}

} // namespace

std::optional<PeerCredentials> PeerOf(qintptr fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (fd < 0 || ::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
        return std::nullopt;
    }
    return PeerCredentials{peer.pid, peer.uid, peer.gid};
}

std::optional<uid_t> SystemUserId(const char* name) {
    std::vector<char> buffer;
    const std::optional<passwd> entry = Lookup(name, 0, buffer);
    return entry ? std::optional(entry->pw_uid) : std::nullopt;
}

QString UserLabel(uid_t uid) {
    std::vector<char> buffer;
    const std::optional<passwd> entry = Lookup(nullptr, uid, buffer);
    const QString number = QString::number(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) + u'（' + number + u'）' : number;
}

} // namespace winwarden
