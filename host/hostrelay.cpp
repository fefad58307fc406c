#include "host/hostrelay.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace winwarden {

namespace {

// How soon to try again while winwarden is not there: soon enough that a restarted winwarden
// sees the browser at once, rare enough to cost nothing.
constexpr int kRetryMs = 250;
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
    connect(&m_socket, &QLocalSocket::connected, this, &HostRelay::OnConnected);
    connect(&m_socket, &QLocalSocket::readyRead, this, &HostRelay::ReadWinwarden);
    connect(&m_socket, &QLocalSocket::disconnected, this, &HostRelay::OnConnectionLost);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, &HostRelay::OnConnectionLost);
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
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
            std::fputs("winwarden-host: the browser's last message was cut short\n", stderr);
        }
        m_stdin.setEnabled(false);
        if (m_socket.state() == QLocalSocket::ConnectedState) {
            m_socket.flush();
            m_socket.disconnectFromServer();
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
    } else {
        // Only hellos and tab lists come from the browser.
        std::fprintf(stderr, "winwarden-host: browser message ignored: %s\n",
                     why.isEmpty() ? "a close request" : qPrintable(why));
    }
}

void HostRelay::Connect() {
    const QString path = BridgeSocketPath();
    if (path.isEmpty()) {
        m_retry.start();
        return;
    }
    m_socket.connectToServer(path);
}

void HostRelay::OnConnected() {
    m_saidWaiting = false;
    m_fromWinwarden = FrameReader(kToBrowserFrameCap);
    SendToWinwarden(EncodeBridgeMessage(m_hello));
    if (m_tabs) {
        SendToWinwarden(EncodeBridgeMessage(*m_tabs));
    }
}

void HostRelay::OnConnectionLost() {
    if (!m_stdin.isEnabled()) {
        return;
    }
    if (!m_saidWaiting) {
        std::fputs("winwarden-host: winwarden is not running; waiting for it\n", stderr);
        m_saidWaiting = true;
    }
    m_socket.abort();
    m_retry.start();
}

void HostRelay::ReadWinwarden() {
    for (const QJsonObject& message : m_fromWinwarden.Feed(m_socket.readAll())) {
        QString why;
        const BridgeMessage decoded = DecodeBridgeMessage(message, &why);
        if (const auto* sites = std::get_if<BridgeSites>(&decoded)) {
            SendToBrowser(EncodeBridgeMessage(*sites));
            continue;
        }
        const auto* close = std::get_if<BridgeClose>(&decoded);
        if (close == nullptr) {
            std::fprintf(stderr, "winwarden-host: winwarden message ignored: %s\n",
                         why.isEmpty() ? "not for the browser" : qPrintable(why));
            continue;
        }
        std::vector<qint64> tabs;
        for (const qint64 id : close->tabs) {
            if (m_reported.contains(id)) {
                tabs.push_back(id);
            }
        }
        SendToBrowser(tabs);
    }
}

void HostRelay::SendToWinwarden(const QJsonObject& message) {
    if (m_socket.state() != QLocalSocket::ConnectedState) {
        return; // sent on connecting: the hello and the latest tab list
    }
    const auto frame = EncodeFrame(message, kFromBrowserFrameCap);
    if (!frame) {
        std::fputs("winwarden-host: a message for winwarden is over the limit\n", stderr);
        return;
    }
    m_socket.write(*frame);
}

void HostRelay::SendToBrowser(const std::vector<qint64>& tabs) {
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
