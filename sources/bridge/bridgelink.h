#pragma once

#include <QString>
#include <map>
#include <mutex>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace winwarden {

// What the guard's bridge and the guard's enforcement share, from any thread: which hosts are
// connected now (a host that has said who it is), and what was done about the browsers that
// are not, for the notices and the log.
class BridgeLink final {
public:
    void Connected(quint64 connection, pid_t host) {
        const std::lock_guard lock(m_mutex);
        m_hosts[connection] = host;
    }
    void Gone(quint64 connection) {
        const std::lock_guard lock(m_mutex);
        m_hosts.erase(connection);
    }
    std::vector<pid_t> Hosts() const {
        const std::lock_guard lock(m_mutex);
        std::vector<pid_t> hosts;
        for (const auto& [connection, host] : m_hosts) {
            hosts.push_back(host);
        }
        return hosts;
    }

    // Something done that an administrator should hear of: `key` tells occurrences apart.
    void Report(const QString& key, const QString& notice) {
        const std::lock_guard lock(m_mutex);
        m_reports.emplace_back(key, notice);
    }
    std::vector<std::pair<QString, QString>> TakeReports() {
        const std::lock_guard lock(m_mutex);
        return std::exchange(m_reports, {});
    }

private:
    mutable std::mutex m_mutex;
    std::map<quint64, pid_t> m_hosts;
    std::vector<std::pair<QString, QString>> m_reports;
};

} // namespace winwarden
