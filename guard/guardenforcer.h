#pragma once

#include "enforce/enforcedecision.h"
#include "enforce/protection.h"
#include "sources/bridge/bridgelink.h"

#include <QObject>
#include <QStringList>
#include <chrono>
#include <memory>
#include <optional>

namespace winwarden {

// The configuration file's lines about ending browsers the guard cannot watch.
struct EnforceSettings {
    bool enforce = true;            // enforce = on | off
    QStringList protect;            // protect = users and groups (empty: everyone)
    QStringList allow;              // allow = a trusted program's executable, one a line
    std::chrono::seconds grace{10}; // grace = seconds
};

// Whether `key` is one of the settings above.
bool IsEnforceKey(const QString& key);

// Reads the settings from the configuration file `config`: the defaults where it or a line is
// missing; nothing, with the reason, when a value is not understood.
std::optional<EnforceSettings> ReadEnforceSettings(const QString& config, QString* error);

// Ends, each cycle, the running browsers of protected users that have no connection through the
// guard's bridge: the whole process tree, SIGTERM and after kKillAfter SIGKILL, each process
// through a pidfd held after its start time was compared with the scan's. Each ending is
// reported through the bridge's link: the journal and the administrators' windows.
class GuardEnforcer final : public QObject {
public:
    static constexpr std::chrono::milliseconds kKillAfter{3000};

    GuardEnforcer(const EnforceSettings& settings, std::shared_ptr<BridgeLink> link,
                  QString procRoot = QStringLiteral("/proc"));

    // Looks every `interval` from now on.
    void Start(std::chrono::milliseconds interval);
    void Cycle();

private:
    void End(const ScannedBrowser& browser);

    std::shared_ptr<BridgeLink> m_link;
    QString m_procRoot;
    ProcessScanner m_scanner;
    EnforceDecision m_decision;
};

} // namespace winwarden
