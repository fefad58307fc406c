#include "control/guardmonitor.h"

#include "control/allowanceprotocol.h"
#include "control/visitprotocol.h"
#include "res/texts.h"
#include "store/storeerror.h"

#include <QDeadlineTimer>

using namespace Qt::StringLiterals;

namespace winwarden {

GuardMonitor::GuardMonitor(QString path, QObject* parent)
    : Monitor(parent), m_path(std::move(path)),
      m_reader(kControlFrameCap, [this](const QByteArray&) { m_fault = true; }) {
    m_status.guarded = true;
    connect(&m_socket, &QLocalSocket::readyRead, this, &GuardMonitor::ReadAvailable);
    connect(&m_socket, &QLocalSocket::disconnected, this, &GuardMonitor::Lost);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &GuardMonitor::TryAgain);
}

GuardMonitor::~GuardMonitor() {
    m_socket.disconnect(this);
    m_socket.abort();
}

bool GuardMonitor::Connect(int ms) {
    const QDeadlineTimer deadline(ms);
    m_socket.connectToServer(m_path);
    if (!m_socket.waitForConnected(ms)) {
        m_socket.abort();
        return false;
    }
    while (!m_welcomed && m_socket.state() == QLocalSocket::ConnectedState &&
           m_socket.waitForReadyRead(int(deadline.remainingTime()))) {
        ReadAvailable();
    }
    if (!m_welcomed) {
        m_socket.abort();
    }
    return m_welcomed;
}

void GuardMonitor::Start() {
    m_showing = true;
    if (m_welcomed) {
        Send(EncodeControlRequest(ControlWatch{true}));
    }
    ShowStatus();
}

void GuardMonitor::Stop() {
    m_showing = false;
    if (m_welcomed) {
        Send(EncodeControlRequest(ControlWatch{false}));
    }
    ShowStatus();
}

std::vector<Rule> GuardMonitor::ListByFlag(const QString& flag) {
    return Expect(DecodeRules(Call(ControlCommand::ListByFlag, {flag})));
}

std::optional<Rule> GuardMonitor::FindByName(const QString& name) {
    return Expect(DecodeRule(Call(ControlCommand::FindByName, {name})));
}

int GuardMonitor::SetFlagForWindow(const QString& flag, const QString& name, const QString& url) {
    return Expect(DecodeCount(Call(ControlCommand::SetFlag, {flag, name, url})));
}

int GuardMonitor::DeleteRule(const QString& name, const QString& url) {
    return Expect(DecodeCount(Call(ControlCommand::DeleteRule, {name, url})));
}

bool GuardMonitor::AddRule(const QString& name, const QString& url, const QString& flag) {
    return Expect(DecodeTruth(Call(ControlCommand::AddRule, {name, url, flag})));
}

std::vector<MatchRuleRow> GuardMonitor::ListMatchRules() {
    return Expect(DecodeMatchRules(Call(ControlCommand::ListMatchRules, {})));
}

bool GuardMonitor::HasMatchTable() {
    return Expect(DecodeTruth(Call(ControlCommand::HasMatchTable, {})));
}

void GuardMonitor::AddMatchTable() {
    const QJsonValue result = Call(ControlCommand::AddMatchTable, {});
    Expect(result.isNull() ? std::optional(true) : std::nullopt);
}

std::optional<MatchRuleRow> GuardMonitor::FindMatchRule(const QString& kind, const QString& text) {
    return Expect(DecodeMatchRule(Call(ControlCommand::FindMatchRule, {kind, text})));
}

bool GuardMonitor::AddMatchRule(const QString& kind, const QString& text, const QString& flag) {
    return Expect(DecodeTruth(Call(ControlCommand::AddMatchRule, {kind, text, flag})));
}

int GuardMonitor::SetMatchRuleFlag(qint64 id, const QString& flag) {
    return Expect(DecodeCount(Call(ControlCommand::SetMatchRuleFlag, {flag}, id)));
}

int GuardMonitor::SetMatchRuleTimes(qint64 id, const QString& times) {
    return Expect(DecodeCount(Call(ControlCommand::SetMatchRuleTimes, {times}, id)));
}

std::vector<VisitRow> GuardMonitor::ListVisits(const VisitQuery& query) {
    return Expect(DecodeVisits(Call(ControlCommand::ListVisits, VisitCallArgs(query))));
}

std::vector<AllowanceUse> GuardMonitor::AllowanceUses() {
    return Expect(DecodeAllowanceUses(Call(ControlCommand::AllowanceUses, {})));
}

int GuardMonitor::DeleteMatchRule(qint64 id) {
    return Expect(DecodeCount(Call(ControlCommand::DeleteMatchRule, {}, id)));
}

template <typename T> T GuardMonitor::Expect(std::optional<T> result) {
    if (!result) {
        // The guard answered what no guard answers: it is not one to trust.
        m_socket.abort();
        throw StoreError(u"guard"_s, text::kGuardLost);
    }
    return std::move(*result);
}

QJsonValue GuardMonitor::Call(ControlCommand command, const QStringList& args, qint64 rule) {
    if (!m_welcomed) {
        throw StoreError(u"guard"_s, text::kGuardLost);
    }
    const qint64 id = m_nextId++;
    const QDeadlineTimer deadline(kAnswerMs);
    m_inCall = true;
    m_reply.reset();
    Send(EncodeControlRequest(ControlCall{id, command, args, rule}));
    while (m_welcomed && !(m_reply && m_reply->id == id) &&
           m_socket.waitForReadyRead(int(deadline.remainingTime()))) {
        ReadAvailable();
    }
    m_inCall = false;
    if (!m_pending.empty()) {
        DispatchPending();
    }
    if (!m_reply || m_reply->id != id) {
        // A late answer is passed over: the next command's id is another.
        throw StoreError(u"guard"_s, m_welcomed ? text::kGuardNoAnswer : text::kGuardLost);
    }
    const GuardReply reply = *std::exchange(m_reply, std::nullopt);
    if (reply.error) {
        throw StoreError(u"guard"_s, *reply.error);
    }
    return reply.result;
}

void GuardMonitor::Send(const QJsonObject& message) {
    // A request over the cap would be a title of megabytes: the guard hears nothing of it,
    // and the command ends without an answer.
    if (const std::optional<QByteArray> frame = EncodeFrame(message, kControlFrameCap)) {
        m_socket.write(*frame);
        m_socket.flush();
    }
}

void GuardMonitor::ReadAvailable() {
    bool unknown = false;
    for (const QJsonObject& object : m_reader.Feed(m_socket.readAll())) {
        GuardMessage message = DecodeGuardMessage(object);
        if (std::holds_alternative<std::monostate>(message)) {
            unknown = true;
            break;
        }
        if (auto* reply = std::get_if<GuardReply>(&message)) {
            m_reply = std::move(*reply);
        } else if (std::holds_alternative<GuardWelcome>(message) ||
                   (!m_inCall && m_pending.empty())) {
            Handle(message);
        } else {
            m_pending.push_back(std::move(message));
            if (!m_inCall) {
                DispatchPending();
            }
        }
    }
    if (unknown || m_fault) {
        m_socket.abort();
    }
}

void GuardMonitor::DispatchPending() {
    // From the event loop: the command that held them back has yet to return to the view.
    if (m_dispatchQueued) {
        return;
    }
    m_dispatchQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_dispatchQueued = false;
            while (!m_pending.empty() && !m_inCall) {
                const GuardMessage message = std::move(m_pending.front());
                m_pending.pop_front();
                Handle(message);
            }
        },
        Qt::QueuedConnection);
}

void GuardMonitor::Handle(const GuardMessage& message) {
    if (const auto* welcome = std::get_if<GuardWelcome>(&message)) {
        m_welcomed = true;
        m_admin = welcome->admin;
        m_guardStatus = welcome->status;
        m_retry.stop();
        if (m_showing) {
            Send(EncodeControlRequest(ControlWatch{true}));
        }
        ShowStatus();
    } else if (const auto* status = std::get_if<GuardStatus>(&message)) {
        m_guardStatus = status->status;
        ShowStatus();
    } else if (const auto* seen = std::get_if<GuardSeen>(&message)) {
        if (m_showing) {
            for (const SeenWindow& window : seen->windows) {
                Q_EMIT windowSeen(window);
            }
        }
    } else if (std::holds_alternative<GuardCycle>(message)) {
        if (m_showing) {
            Q_EMIT cycleFinished();
        }
    } else if (const auto* closing = std::get_if<GuardClosing>(&message)) {
        if (m_showing) {
            Q_EMIT windowClosing(closing->title, closing->url, -1);
        }
    } else if (const auto* failed = std::get_if<GuardStoreFailed>(&message)) {
        Q_EMIT storeFailed(failed->message);
    }
}

void GuardMonitor::Lost() {
    if (!m_welcomed) {
        return;
    }
    m_welcomed = false;
    m_admin = false;
    m_reader = FrameReader(kControlFrameCap, [this](const QByteArray&) { m_fault = true; });
    m_fault = false;
    m_retry.start();
    ShowStatus();
}

void GuardMonitor::TryAgain() {
    if (m_socket.state() == QLocalSocket::UnconnectedState) {
        m_reader = FrameReader(kControlFrameCap, [this](const QByteArray&) { m_fault = true; });
        m_fault = false;
        m_socket.connectToServer(m_path);
    }
}

void GuardMonitor::ShowStatus() {
    MonitorStatus status = m_guardStatus;
    status.guarded = true;
    status.monitoring = m_showing;
    if (!m_welcomed) {
        status.cycled = false;
        status.notices.append(text::kGuardLost);
    }
    if (status != m_status) {
        m_status = status;
        Q_EMIT statusChanged(m_status);
    }
}

} // namespace winwarden
