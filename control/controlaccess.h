#pragma once

#include <QtGlobal>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace winwarden {

// Who is at the other end of a control connection, as the kernel recorded it when the peer
// connected: its effective user and group, and its supplementary groups. No message can
// change it.
struct ControlPeer {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

// The peer of the connected local socket `fd`; nothing when the kernel does not say.
std::optional<ControlPeer> ControlPeerOf(qintptr fd);

// The group whose members administer the guard, as `groupadd` made it.
inline constexpr char kAdministratorsGroup[] = "winwarden";

// The administrators' group id, where the system has the group.
std::optional<gid_t> AdministratorsGroup();

// The one place that decides who may change the guard's rules: root, and the members of the
// administrators' group (as primary or supplementary group). Everyone else may only look.
bool MayChangeRules(const ControlPeer& peer, std::optional<gid_t> administrators);

} // namespace winwarden
