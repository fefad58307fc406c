#pragma once

#include <functional>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace winwarden::test {

// Runs `connect` with this thread alone acting as another user (effective uid and gid, and
// supplementary groups), so that a local socket it connects carries that user's credentials
// (SO_PEERCRED, SO_PEERGROUPS) just as a process of that user would; the process and its other
// threads stay root. The raw system calls change only the calling thread, where the C
// library's would change every thread. False when the identity could not be taken (not root).
inline bool AsUser(uid_t uid, gid_t gid, const std::vector<gid_t>& groups,
                   const std::function<void()>& connect) {
    std::vector<gid_t> own(size_t(::getgroups(0, nullptr)));
    if (::geteuid() != 0 || ::getgroups(int(own.size()), own.data()) != int(own.size()) ||
        ::syscall(SYS_setgroups, groups.size(), groups.empty() ? nullptr : groups.data()) != 0 ||
        ::syscall(SYS_setresgid, -1, gid, -1) != 0 || ::syscall(SYS_setresuid, -1, uid, -1) != 0)
        return false;
    connect();
    return ::syscall(SYS_setresuid, -1, 0, -1) == 0 && ::syscall(SYS_setresgid, -1, 0, -1) == 0 &&
           ::syscall(SYS_setgroups, own.size(), own.data()) == 0;
}

} // namespace winwarden::test
