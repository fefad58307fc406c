#pragma once

#include "platform/bridgeprotocol.h"

#include <QString>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace winwarden {

class GuardEnforcer;
class MonitorEngine;

// The configuration folder under the prefix that the guard's program at `program` was installed
// to, where `cmake --install` puts guard.conf (GNUInstallDirs: /etc for / and /usr, /etc/opt/X
// for /opt/X, P/etc for any other P); the build's own for a program outside an sbin folder.
QString InstalledConfigFolder(const QString& program);
// The running program's.
QString DefaultGuardConfig();

// Where the guard keeps its socket, its rules and its configuration. The defaults are the
// ones the unit sets up (RuntimeDirectory=, StateDirectory=); only tests and hand-made set-ups
// name others, and a browser's host looks only at the default socket.
struct GuardPaths {
    QString runtimeDir = QString::fromLatin1(kGuardRuntimeDir);
    QString stateDir = QStringLiteral("/var/lib/winwarden");
    QString config = DefaultGuardConfig();

    QString BridgeSocket() const { return runtimeDir + QStringLiteral("/bridge"); }
    // Every user's window; the window itself looks only at the default (kGuardControlSocket).
    QString ControlSocket() const { return runtimeDir + QStringLiteral("/control"); }
    QString DefaultDatabase() const { return stateDir + QStringLiteral("/winwarden.mdb"); }
    // The private key with which the guard signs its answers to the browsers (kGuardKeyFile).
    QString KeyFile() const { return stateDir + QStringLiteral("/guard-key.pem"); }
};

// The folders' and the rule file's modes: everyone may reach the socket's folder; the rules are
// written by the guard's user only, and read besides only by its group, whose members are the
// guard's administrators (they change rules through the guard, never in the file).
inline constexpr mode_t kRuntimeDirMode = 0755;
inline constexpr mode_t kStateDirMode = 0750;
inline constexpr mode_t kRuleFileMode = 0640;

// A mode as people write it: "0640".
QString ModeText(mode_t mode);

// The rule database that the configuration file names ("database = <path or URI>", as
// WINWARDEN_DATABASE), or the default file when the file or the line is missing. Nothing, with
// the reason, when the file cannot be read or names no usable database. "keep-history = <days>"
// (a whole number, 0 or more) sets `keepHistoryDays` where given, "day-start = <hour>" (0 to
// 23: when a day of the daily allowances begins) `dayStartHour`; each is left as it is otherwise.
std::optional<QString> GuardDatabase(const GuardPaths& paths, QString* error,
                                     int* keepHistoryDays = nullptr, int* dayStartHour = nullptr);

// Makes one of the guard's folders where it is missing; one that is there must be a real
// folder of this user's or root's, and loses any write permission of others. False, with the
// reason, where it cannot be made safe.
bool PrepareGuardFolder(const QString& path, mode_t mode, QString* error);

// The system guard: the monitor engine over every user's browsers (the system bridge) and the
// rules, monitoring from the start and for as long as it runs; and, unless the configuration
// says enforce = off, the ending of the browsers it cannot watch (GuardEnforcer).
class Guard final {
public:
    explicit Guard(GuardPaths paths);
    ~Guard();

    // Prepares the folders, opens the rules (creating the default file at first start),
    // listens and starts monitoring. False, with the reason on standard error, when it cannot
    // run; a rule database that does not open yet is said and tried again every cycle.
    bool Start();

    // For what the guard serves beside the bridge.
    MonitorEngine& Engine() { return *m_engine; }

private:
    // Creates the default rule file at first start; takes from a rule file of ours what others
    // may do beyond kRuleFileMode.
    void PrepareRules(const QString& database);

    GuardPaths m_paths;
    std::unique_ptr<MonitorEngine> m_engine;
    std::unique_ptr<GuardEnforcer> m_enforcer; // none with enforce = off
};

} // namespace winwarden
