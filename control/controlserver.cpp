#include "control/controlserver.h"

#include "control/allowanceprotocol.h"
#include "control/visitprotocol.h"
#include "platform/localserver.h"
#include "platform/peercred.h"
#include "platform/programlog.h"
#include "res/texts.h"
#include "store/storeerror.h"

#include <QLocalSocket>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

const QString kMalformed = u"控制套接字上的一个连接发来了窗口不会发的数据，已断开"_s;

} // namespace

ControlServer::ControlServer(Monitor& monitor, std::optional<gid_t> administrators,
                             qint64 backlogCap, QObject* parent)
    : QObject(parent), m_monitor(monitor), m_administrators(administrators),
      m_backlogCap(backlogCap) {
    // Every local user's window comes here; the socket's folder decides who reaches it.
    m_server.setSocketOptions(QLocalServer::WorldAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &ControlServer::Accept);
    connect(&m_monitor, &Monitor::windowSeen, this, &ControlServer::OnSeen);
    connect(&m_monitor, &Monitor::windowClosing, this, &ControlServer::OnClosing);
    connect(&m_monitor, &Monitor::cycleFinished, this, &ControlServer::OnCycleFinished);
    connect(&m_monitor, &Monitor::storeFailed, this, &ControlServer::OnStoreFailed);
    connect(&m_monitor, &Monitor::statusChanged, this, [this] {
        for (auto& [number, client] : m_clients) {
            SendStatus(client);
        }
    });
}

ControlServer::~ControlServer() {
    for (auto& [number, client] : m_clients) {
        client.socket->disconnect(this);
        client.socket->abort();
        delete client.socket;
    }
}

bool ControlServer::Listen(const QString& path, QString* error) {
    return ListenOnce(m_server, path, error);
}

void ControlServer::Accept() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        const std::optional<ControlPeer> peer = ControlPeerOf(socket->socketDescriptor());
        if (!peer) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const quint64 number = m_next++;
        socket->setParent(nullptr);
        Client& client = m_clients[number];
        client.socket = socket;
        client.peer = *peer;
        client.admin = MayChangeRules(*peer, m_administrators);
        client.reader = FrameReader(kControlFrameCap, [this, number](const QByteArray& why) {
            if (const auto found = m_clients.find(number); found != m_clients.end()) {
                found->second.fault = why;
            }
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, number] { Read(number); });
        connect(socket, &QLocalSocket::disconnected, this, [this, number] {
            if (const auto found = m_clients.find(number); found != m_clients.end()) {
                found->second.gone = true;
                Sweep();
            }
        });
        client.sent = StatusFor(client);
        Send(client, EncodeWelcome(client.admin, client.sent));
        Read(number);
        if (socket->state() != QLocalSocket::ConnectedState) {
            client.gone = true;
            Sweep();
        }
    }
}

void ControlServer::Read(quint64 number) {
    const auto found = m_clients.find(number);
    if (found == m_clients.end() || found->second.gone) {
        return;
    }
    Client& client = found->second;
    const std::vector<QJsonObject> messages = client.reader.Feed(client.socket->readAll());
    if (!client.fault.isEmpty()) {
        // Nothing it sent along is answered.
        CutOff(client, kMalformed, QString::fromUtf8(client.fault));
        return;
    }
    for (const QJsonObject& message : messages) {
        if (client.gone) {
            break;
        }
        const ControlRequest request = DecodeControlRequest(message);
        if (const auto* watch = std::get_if<ControlWatch>(&request)) {
            client.watching = watch->on;
        } else if (const auto* call = std::get_if<ControlCall>(&request)) {
            Answer(client, *call);
        } else {
            CutOff(client, kMalformed);
        }
    }
}

void ControlServer::Answer(Client& client, const ControlCall& call) {
    // Decided once, when the client connected, from what the kernel said of it. Besides the
    // changes, every rule but a blocking one is a page some user visited: the administrators'.
    if (!client.admin && !AnyoneMayAsk(call)) {
        Send(client, EncodeRefusal(call.id, ChangesRules(call.command)
                                                ? text::kRulesForAdministratorsOnly
                                                : text::kAllPagesForAdministratorsOnly));
        return;
    }
    QJsonObject reply;
    try {
        reply = EncodeReply(call.id, Apply(call, client.admin, client.peer.uid));
    } catch (const StoreError& error) {
        reply = EncodeRefusal(call.id, error.message());
    }
    if (!EncodeFrame(reply, kControlFrameCap)) {
        reply = EncodeRefusal(call.id, text::kGuardAnswerTooLarge);
    }
    Send(client, reply);
}

QJsonValue ControlServer::Apply(const ControlCall& call, bool admin, uid_t peer) {
    const QStringList& a = call.args;
    switch (call.command) {
    case ControlCommand::ListByFlag:
        return EncodeRules(m_monitor.ListByFlag(a[0]));
    case ControlCommand::FindByName:
        return EncodeRule(m_monitor.FindByName(a[0]));
    case ControlCommand::SetFlag:
        return m_monitor.SetFlagForWindow(a[0], a[1], a[2]);
    case ControlCommand::DeleteRule:
        return m_monitor.DeleteRule(a[0], a[1]);
    case ControlCommand::AddRule:
        return m_monitor.AddRule(a[0], a[1], a[2]);
    case ControlCommand::ListMatchRules:
        return EncodeMatchRules(m_monitor.ListMatchRules());
    case ControlCommand::HasMatchTable:
        return m_monitor.HasMatchTable();
    case ControlCommand::AddMatchTable:
        m_monitor.AddMatchTable();
        return QJsonValue::Null;
    case ControlCommand::FindMatchRule:
        return EncodeMatchRule(m_monitor.FindMatchRule(a[0], a[1]));
    case ControlCommand::AddMatchRule:
        return m_monitor.AddMatchRule(a[0], a[1], a[2]);
    case ControlCommand::SetMatchRuleFlag:
        return m_monitor.SetMatchRuleFlag(call.rule, a[0]);
    case ControlCommand::DeleteMatchRule:
        return m_monitor.DeleteMatchRule(call.rule);
    case ControlCommand::SetMatchRuleTimes:
        return m_monitor.SetMatchRuleTimes(call.rule, a[0]);
    case ControlCommand::ListVisits: {
        VisitQuery query = VisitQueryFromCall(call);
        if (!admin) {
            // Whatever the client asked, its own visits alone.
            query.uid = qint64(peer);
            query.user.clear();
        }
        return EncodeVisits(m_monitor.ListVisits(query));
    }
    case ControlCommand::AllowanceUses: {
        std::vector<AllowanceUse> uses = m_monitor.AllowanceUses();
        if (!admin) {
            std::erase_if(uses, [peer](const AllowanceUse& use) { return use.uid != peer; });
        }
        return EncodeAllowanceUses(uses);
    }
    }
    Q_UNREACHABLE();
}

bool ControlServer::Send(Client& client, const QJsonObject& message) {
    if (client.gone) {
        return false;
    }
    // What the client has not read stays here; past the cap it never will.
    if (client.socket->bytesToWrite() > m_backlogCap) {
        CutOff(client, u"控制套接字上的一个连接不读取守护程序发给它的消息，已断开"_s);
        return false;
    }
    if (const std::optional<QByteArray> frame = EncodeFrame(message, kControlFrameCap)) {
        client.socket->write(*frame);
    }
    return true;
}

void ControlServer::CutOff(Client& client, const QString& notice, const QString& detail) {
    // As the bridge's clients cut off are told.
    LogLine(u"用户 "_s + UserLabel(client.peer.uid) + u"："_s + notice +
            (detail.isEmpty() ? QString() : u"（"_s + detail + u"）"_s));
    client.socket->disconnect(this);
    client.socket->abort();
    client.gone = true;
    Sweep();
}

void ControlServer::Sweep() {
    // Later, from the event loop: a client may go in the middle of a loop over the clients,
    // or of a call that holds it.
    if (m_sweepQueued) {
        return;
    }
    m_sweepQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_sweepQueued = false;
            std::erase_if(m_clients, [](const auto& entry) {
                if (entry.second.gone) {
                    entry.second.socket->disconnect();
                    entry.second.socket->deleteLater();
                }
                return entry.second.gone;
            });
        },
        Qt::QueuedConnection);
}

bool ControlServer::Sees(const Client& client, qint64 uid) const {
    return client.admin || (uid >= 0 && uid == qint64(client.peer.uid));
}

MonitorStatus ControlServer::StatusFor(const Client& client) const {
    MonitorStatus status = m_monitor.Status();
    if (!client.admin) {
        // Other users' pages and what they do with their browsers are the administrators'.
        status.windows = client.ownWindows;
        status.notices.clear();
    }
    return status;
}

void ControlServer::SendStatus(Client& client) {
    const MonitorStatus status = StatusFor(client);
    if (status != client.sent && Send(client, EncodeStatus(status))) {
        client.sent = status;
    }
}

void ControlServer::OnSeen(const SeenWindow& window) {
    m_cycle.push_back(window);
}

void ControlServer::OnClosing(const QString& title, const QString& url, qint64 uid) {
    for (auto& [number, client] : m_clients) {
        if (client.watching && Sees(client, uid)) {
            Send(client, EncodeClosing(title, url));
        }
    }
}

void ControlServer::OnCycleFinished() {
    for (auto& [number, client] : m_clients) {
        std::vector<SeenWindow> part;
        client.ownWindows = 0;
        for (const SeenWindow& window : m_cycle) {
            if (!Sees(client, window.uid)) {
                continue;
            }
            ++client.ownWindows;
            if (!client.watching) {
                continue;
            }
            SeenWindow& shown = part.emplace_back(window);
            if (window.uid >= 0 && window.uid != qint64(client.peer.uid)) {
                shown.user = UserLabel(uid_t(window.uid));
            }
            if (part.size() == kSeenPerMessage) {
                Send(client, EncodeSeen(std::exchange(part, {})));
            }
        }
        if (!part.empty()) {
            Send(client, EncodeSeen(part));
        }
        SendStatus(client);
        if (client.watching) {
            Send(client, EncodeCycleEnd());
        }
    }
    m_cycle.clear();
}

void ControlServer::OnStoreFailed(const QString& message) {
    for (auto& [number, client] : m_clients) {
        Send(client, EncodeStoreFailed(message));
    }
}

} // namespace winwarden
