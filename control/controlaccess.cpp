#include "control/controlaccess.h"

#include "platform/peercred.h"

#include <algorithm>
#include <cerrno>
#include <grp.h>
#include <sys/socket.h>

namespace winwarden {

std::optional<ControlPeer> ControlPeerOf(qintptr fd) {
    const std::optional<PeerCredentials> credentials = PeerOf(fd);
    if (!credentials) {
        return std::nullopt;
    }
    ControlPeer peer{credentials->uid, credentials->gid, {}};
    // The size is asked for first; a process may have up to 65536 groups.
    socklen_t groupsSize = 0;
    if (::getsockopt(int(fd), SOL_SOCKET, SO_PEERGROUPS, nullptr, &groupsSize) != 0 &&
        errno != ERANGE) {
        return std::nullopt;
    }
    peer.groups.resize(groupsSize / sizeof(gid_t));
    if (groupsSize > 0 &&
        ::getsockopt(int(fd), SOL_SOCKET, SO_PEERGROUPS, peer.groups.data(), &groupsSize) != 0) {
        return std::nullopt;
    }
    peer.groups.resize(groupsSize / sizeof(gid_t));
    return peer;
}

std::optional<gid_t> AdministratorsGroup() {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (::getgrnam_r(kAdministratorsGroup, &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return std::nullopt;
    }
    return entry.gr_gid;
}

bool MayChangeRules(const ControlPeer& peer, std::optional<gid_t> administrators) {
    if (peer.uid == 0) {
        return true;
    }
    return administrators &&
           (peer.gid == *administrators || std::find(peer.groups.begin(), peer.groups.end(),
                                                     *administrators) != peer.groups.end());
}

} // namespace winwarden
