#pragma once

#include "platform/processscan.h"

#include <QString>
#include <optional>
#include <sys/types.h>

namespace winwarden {

// A process held through a pidfd: once held, a signal reaches that process or none, even if its
// pid is reused by then.
class HeldProcess final {
public:
    // Holds `process` if it still runs with that start time and every one of its user ids
    // (real, effective, saved, filesystem) is `uid`; nothing otherwise. The start time is
    // compared after the pidfd is open, so a pid reused before that is never held.
    static std::optional<HeldProcess> Hold(const QString& procRoot, ProcessIdentity process,
                                           uid_t uid);

    HeldProcess(HeldProcess&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    HeldProcess& operator=(HeldProcess&& other) noexcept;
    HeldProcess(const HeldProcess&) = delete;
    HeldProcess& operator=(const HeldProcess&) = delete;
    ~HeldProcess();

    // False when the process has already ended (or the signal is not ours to send).
    bool Signal(int signal) const;

private:
    explicit HeldProcess(int fd) : m_fd(fd) {}
    int m_fd;
};

} // namespace winwarden
