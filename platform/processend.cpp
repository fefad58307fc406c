#include "platform/processend.h"

#include <algorithm>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

namespace winwarden {

namespace {

// Debian 12's C library has no wrappers for these yet.
int PidfdOpen(pid_t pid) {
    return int(::syscall(SYS_pidfd_open, pid, 0));
}

int PidfdSendSignal(int fd, int signal) {
    return int(::syscall(SYS_pidfd_send_signal, fd, signal, nullptr, 0));
}

} // namespace

std::optional<HeldProcess> HeldProcess::Hold(const QString& procRoot, ProcessIdentity process,
                                             uid_t uid) {
    if (process.pid <= 1) {
        return std::nullopt;
    }
    const int fd = PidfdOpen(process.pid);
    if (fd < 0) {
        return std::nullopt;
    }
    HeldProcess held(fd);
    const std::optional<quint64> started = ProcessStartTime(procRoot, process.pid);
    const std::optional<std::vector<uid_t>> uids = ProcessUids(procRoot, process.pid);
    if (started != process.startTime || !uids ||
        std::any_of(uids->begin(), uids->end(), [&](uid_t each) { return each != uid; })) {
        return std::nullopt;
    }
    return held;
}

HeldProcess& HeldProcess::operator=(HeldProcess&& other) noexcept {
    std::swap(m_fd, other.m_fd);
    return *this;
}

HeldProcess::~HeldProcess() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool HeldProcess::Signal(int signal) const {
    return PidfdSendSignal(m_fd, signal) == 0;
}

} // namespace winwarden
