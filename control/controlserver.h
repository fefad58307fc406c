#pragma once

#include "control/controlaccess.h"
#include "control/controlprotocol.h"
#include "engine/monitor.h"
#include "platform/nativeframing.h"

#include <QLocalServer>
#include <QObject>
#include <map>
#include <optional>
#include <vector>

class QLocalSocket;

namespace winwarden {

// The guard's control socket (controlprotocol.h): every local user's window reaches the
// monitor through it. Each connection's user and groups are the kernel's word, and decide once,
// on connecting, whether it may change rules (MayChangeRules) and whose pages it sees: an
// administrator sees every user's, anyone else only those of their own browsers. A command that
// changes rules is applied only for an administrator; everyone may read the rules.
//
// The guard never waits on a window: a window that sends what no window sends is cut off, and
// so is one that leaves more than the backlog cap of the guard's messages unread.
class ControlServer final : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kBacklogCap = 2 * kControlFrameCap;

    ControlServer(Monitor& monitor, std::optional<gid_t> administrators,
                  qint64 backlogCap = kBacklogCap, QObject* parent = nullptr);
    ~ControlServer() override;

    // Listens at `path`, open to every local user (the socket's folder decides who reaches
    // it). False, with the reason, when it cannot.
    bool Listen(const QString& path, QString* error);
    // Windows connected now.
    int Clients() const { return int(m_clients.size()); }

private:
    struct Client {
        QLocalSocket* socket = nullptr;
        FrameReader reader{kControlFrameCap};
        QByteArray fault; // why the reader dropped a frame: such a client is cut off
        ControlPeer peer;
        bool admin = false;
        bool watching = false;
        bool gone = false;
        int ownWindows = 0; // of the last cycle, the windows this client may see
        MonitorStatus sent; // the status last sent
    };

    void Accept();
    void Read(quint64 number);
    void Answer(Client& client, const ControlCall& call);
    QJsonValue Apply(const ControlCall& call, bool admin, uid_t peer);
    // Queues a message for the client; false, and the client cut off, when it does not read.
    bool Send(Client& client, const QJsonObject& message);
    void CutOff(Client& client, const QString& notice, const QString& detail = {});
    // Forgets, soon, the clients that went.
    void Sweep();
    bool Sees(const Client& client, qint64 uid) const;
    MonitorStatus StatusFor(const Client& client) const;
    void SendStatus(Client& client);

    void OnSeen(const SeenWindow& window);
    void OnClosing(const QString& title, const QString& url, qint64 uid);
    void OnCycleFinished();
    void OnStoreFailed(const QString& message);

    Monitor& m_monitor;
    const std::optional<gid_t> m_administrators;
    const qint64 m_backlogCap;
    QLocalServer m_server;
    std::map<quint64, Client> m_clients;
    quint64 m_next = 1;
    bool m_sweepQueued = false;
    std::vector<SeenWindow> m_cycle; // the cycle under way
};

} // namespace winwarden
