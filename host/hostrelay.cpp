#include "host/hostrelay.h"

#include "platform/peercred.h"
#include "platform/programlog.h"

#include <QCoreApplication>
#include <cerrno>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

const QString kNotRunning = u"浏览哨兵没有运行，等待它启动"_s;

// How soon to try again while winwarden is not there: soon enough that a restarted winwarden
// sees the browser at once, rare enough to cost nothing.
constexpr int kRetryMs = 250;
// How often a host on the user's own winwarden looks for a guard that came up since.
constexpr int kGuardLookMs = 1000;
// Close requests per message to the browser, so that each stays far below its 1 MB limit.
constexpr size_t kCloseBatch = 10000;

bool WriteAll(int fd, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), static_cast<size_t>(bytes.size()));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes = bytes.sliced(written);
    }
    return true;
}

} // namespace

HostRelay::HostRelay(QString caller)
    : m_caller(std::move(caller)), m_stdin(STDIN_FILENO, QSocketNotifier::Read),
      m_fromBrowser(kFromBrowserFrameCap), m_fromWinwarden(kToBrowserFrameCap) {
    m_hello.caller = m_caller;
    connect(&m_stdin, &QSocketNotifier::activated, this, &HostRelay::ReadBrowser);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &HostRelay::Connect);
    Connect();
}

void HostRelay::ReadBrowser() {
    char buffer[65536];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (got <= 0) {
        // The browser closed the port or went away: nothing more to relay.
        if (m_fromBrowser.InFrame()) {
            LogLine(u"浏览器的最后一条消息不完整"_s);
        }
        m_stdin.setEnabled(false);
        m_retry.stop();
        DiscardAttempt();
        if (m_link != nullptr && m_link->state() == QLocalSocket::ConnectedState) {
            m_link->flush();
            m_link->disconnectFromServer();
        }
        QCoreApplication::quit();
        return;
    }
    for (const QJsonObject& message : m_fromBrowser.Feed(QByteArrayView(buffer, got))) {
        OnBrowserMessage(message);
    }
}

void HostRelay::OnBrowserMessage(const QJsonObject& message) {
    QString why;
    const BridgeMessage decoded = DecodeBridgeMessage(message, &why);
    if (const auto* hello = std::get_if<BridgeHello>(&decoded)) {
        m_hello = {hello->browser, hello->version, m_caller, hello->install};
        SendToWinwarden(EncodeBridgeMessage(m_hello));
    } else if (const auto* tabs = std::get_if<BridgeTabs>(&decoded)) {
        m_reported.clear();
        for (const BridgeTab& tab : tabs->tabs) {
            m_reported.insert(tab.id);
        }
        m_tabs = *tabs;
        SendToWinwarden(EncodeBridgeMessage(*tabs));
    } else if (const auto* challenge = std::get_if<BridgeChallenge>(&decoded)) {
        // Only the extension judges the answer; the latest goes again to a monitor that comes.
        m_challenge = *challenge;
        SendToWinwarden(EncodeBridgeMessage(*challenge));
    } else {
        // Only hellos, tab lists and challenges come from the browser.
        LogLine(u"忽略了浏览器的一条消息：%1"_s.arg(
            why.isEmpty() ? u"既不是 hello 也不是标签页列表"_s : why));
    }
}

void HostRelay::Connect() {
    if (m_attempt != nullptr || (m_link != nullptr && m_linkIsGuard)) {
        return;
    }
    // The guard first: whenever one runs, the browser is its.
    Attempt(QLatin1StringView(kSystemBridgeSocket), true);
}

void HostRelay::Attempt(const QString& path, bool guard) {
    if (path.isEmpty()) {
        WaitAndRetry(kRetryMs);
        return;
    }
    m_attempt = new QLocalSocket(this);
    m_attemptIsGuard = guard;
    connect(m_attempt, &QLocalSocket::connected, this, &HostRelay::OnAttemptConnected);
    connect(m_attempt, &QLocalSocket::errorOccurred, this, &HostRelay::OnAttemptFailed);
    m_attempt->connectToServer(path);
}

void HostRelay::DiscardAttempt() {
    if (m_attempt != nullptr) {
        m_attempt->disconnect(this);
        m_attempt->abort();
        m_attempt->deleteLater(); // it may be the sender of the signal being handled
        m_attempt = nullptr;
    }
}

bool HostRelay::IsGuard(const QLocalSocket& socket) {
    const std::optional<PeerCredentials> peer = PeerOf(socket.socketDescriptor());
    return peer && (peer->uid == 0 || peer->uid == SystemUserId(kGuardUser));
}

void HostRelay::OnAttemptConnected() {
    QLocalSocket* socket = m_attempt;
    if (m_attemptIsGuard && !IsGuard(*socket)) {
        // Someone else's socket in the guard's place: a browser's pages are not theirs to see.
        if (!m_saidNotGuard) {
            const auto peer = PeerOf(socket->socketDescriptor());
            LogLine(u"%1 不属于守护程序（uid %2），不使用"_s.arg(
                QLatin1StringView(kSystemBridgeSocket),
                peer ? QString::number(peer->uid) : u"未知"_s));
            m_saidNotGuard = true;
        }
        OnAttemptFailed();
        return;
    }
    socket->disconnect(this);
    m_attempt = nullptr;
    if (m_link != nullptr) {
        // The guard came up while the user's own winwarden had the browser: it takes over.
        m_link->disconnect(this);
        m_link->disconnectFromServer();
        m_link->deleteLater();
    }
    Link(socket, m_attemptIsGuard);
}

void HostRelay::OnAttemptFailed() {
    const bool guard = m_attemptIsGuard;
    DiscardAttempt();
    if (!m_stdin.isEnabled()) {
        return;
    }
    if (m_link != nullptr) {
        WaitAndRetry(kGuardLookMs); // still no guard: stay with the user's own winwarden
    } else if (guard) {
        Attempt(BridgeSocketPath(), false);
    } else {
        if (!m_saidWaiting) {
            LogLine(kNotRunning);
            m_saidWaiting = true;
        }
        WaitAndRetry(kRetryMs);
    }
}

void HostRelay::Link(QLocalSocket* socket, bool guard) {
    m_link = socket;
    m_linkIsGuard = guard;
    m_saidWaiting = false;
    m_fromWinwarden = FrameReader(kToBrowserFrameCap);
    connect(m_link, &QLocalSocket::readyRead, this, &HostRelay::ReadWinwarden);
    connect(m_link, &QLocalSocket::disconnected, this, &HostRelay::OnLinkLost);
    connect(m_link, &QLocalSocket::errorOccurred, this, &HostRelay::OnLinkLost);
    SendToWinwarden(EncodeBridgeMessage(m_hello));
    if (m_tabs) {
        SendToWinwarden(EncodeBridgeMessage(*m_tabs));
    }
    if (m_challenge) {
        SendToWinwarden(EncodeBridgeMessage(*m_challenge));
    }
    if (!guard) {
        WaitAndRetry(kGuardLookMs);
    }
    ReadWinwarden();
}

void HostRelay::OnLinkLost() {
    if (m_link == nullptr) {
        return;
    }
    m_link->disconnect(this);
    m_link->abort();
    m_link->deleteLater();
    m_link = nullptr;
    if (!m_stdin.isEnabled()) {
        return;
    }
    if (!m_saidWaiting) {
        LogLine(kNotRunning);
        m_saidWaiting = true;
    }
    m_retry.stop();
    DiscardAttempt();
    WaitAndRetry(kRetryMs);
}

void HostRelay::WaitAndRetry(int milliseconds) {
    m_retry.start(milliseconds);
}

void HostRelay::ReadWinwarden() {
    if (m_link == nullptr) {
        return;
    }
    for (const QJsonObject& message : m_fromWinwarden.Feed(m_link->readAll())) {
        QString why;
        const BridgeMessage decoded = DecodeBridgeMessage(message, &why);
        if (std::holds_alternative<BridgeAlive>(decoded)) {
            // Only the host knows whether the monitor is the guard: what it says of itself is
            // not asked.
            SendToBrowser(EncodeBridgeMessage(BridgeAlive{m_linkIsGuard}));
            continue;
        }
        if (const auto* sites = std::get_if<BridgeSites>(&decoded)) {
            SendToBrowser(EncodeBridgeMessage(*sites));
            continue;
        }
        if (const auto* notice = std::get_if<BridgeNotice>(&decoded)) {
            SendToBrowser(EncodeBridgeMessage(*notice));
            continue;
        }
        // Passed on as it came: whether it proves anything is the extension's to check.
        if (const auto* proof = std::get_if<BridgeProof>(&decoded)) {
            SendToBrowser(EncodeBridgeMessage(*proof));
            continue;
        }
        const auto* close = std::get_if<BridgeClose>(&decoded);
        if (close == nullptr) {
            LogLine(
                u"忽略了浏览哨兵的一条消息：%1"_s.arg(why.isEmpty() ? u"不是给浏览器的"_s : why));
            continue;
        }
        std::vector<qint64> tabs;
        for (const qint64 id : close->tabs) {
            if (m_reported.contains(id)) {
                tabs.push_back(id);
            }
        }
        SendClosesToBrowser(tabs);
    }
}

void HostRelay::SendToWinwarden(const QJsonObject& message) {
    if (m_link == nullptr || m_link->state() != QLocalSocket::ConnectedState) {
        return; // sent on connecting: the hello and the latest tab list
    }
    const auto frame = EncodeFrame(message, kFromBrowserFrameCap);
    if (!frame) {
        LogLine(u"发给浏览哨兵的一条消息超过了上限"_s);
        return;
    }
    m_link->write(*frame);
}

void HostRelay::SendClosesToBrowser(const std::vector<qint64>& tabs) {
    for (size_t first = 0; first < tabs.size(); first += kCloseBatch) {
        const auto last = tabs.begin() + std::ptrdiff_t(std::min(first + kCloseBatch, tabs.size()));
        SendToBrowser(
            EncodeBridgeMessage(BridgeClose{{tabs.begin() + std::ptrdiff_t(first), last}}));
    }
}

void HostRelay::SendToBrowser(const QJsonObject& message) {
    // winwarden's frames are read with the browser's cap, so what it sends always fits.
    if (const auto frame = EncodeFrame(message, kToBrowserFrameCap)) {
        WriteAll(STDOUT_FILENO, *frame); // a failure: the browser went away; its end follows
    }
}

} // namespace winwarden
