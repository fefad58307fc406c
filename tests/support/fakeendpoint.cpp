#include "tests/support/fakeendpoint.h"

#include <QDeadlineTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace winwarden {

namespace {

std::pair<int, quint16> Listen() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length))
        qFatal("cannot listen on 127.0.0.1");
    return {fd, ntohs(address.sin_port)};
}

} // namespace

FakeEndpoint::FakeEndpoint(QByteArray answer, int delayMs)
    : FakeEndpoint([answer = std::move(answer)](const QByteArray&) { return answer; }, delayMs) {}

FakeEndpoint::FakeEndpoint(Answering answering, int delayMs)
    : m_answering(std::move(answering)), m_delayMs(delayMs) {
    std::tie(m_listener, m_port) = Listen();
    m_thread = std::thread([this] {
        while (!m_stopping) {
            pollfd wait{m_listener, POLLIN, 0};
            if (::poll(&wait, 1, 20) <= 0)
                continue;
            const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            // A browser opens connections ahead of its requests: one that idles holds up
            // no other.
            ++m_serving;
            std::thread([this, socket] {
                Serve(socket);
                --m_serving;
            }).detach();
        }
    });
}

void FakeEndpoint::Serve(int socket) {
    QByteArray request;
    char buffer[4096];
    pollfd read{socket, POLLIN, 0};
    // A connection opened ahead may carry its request much later, or never.
    for (ssize_t got = 1; got > 0 && !request.contains("\r\n\r\n") && !m_stopping;) {
        if (::poll(&read, 1, 20) > 0) {
            got = ::recv(socket, buffer, sizeof buffer, 0);
            request.append(buffer, std::max<ssize_t>(got, 0));
        }
    }
    if (!request.contains("\r\n\r\n")) {
        ::close(socket);
        return;
    }
    const QByteArray line = request.left(request.indexOf("\r\n"));
    {
        const std::lock_guard lock(m_mutex);
        m_requests.push_back(line);
    }
    const QByteArray answer = m_answering(line);
    for (const QDeadlineTimer due(m_delayMs); !m_stopping && !due.hasExpired();)
        ::usleep(10000);
    for (ssize_t sent = 0, put = 1; !m_stopping && put > 0 && sent < answer.size(); sent += put) {
        put = ::send(socket, answer.constData() + sent, static_cast<size_t>(answer.size() - sent),
                     MSG_NOSIGNAL);
    }
    ::close(socket);
}

FakeEndpoint::~FakeEndpoint() {
    m_stopping = true;
    m_thread.join();
    while (m_serving > 0)
        ::usleep(1000);
    ::close(m_listener);
}

QByteArray FakeEndpoint::Answer(int status, const QByteArray& body, const QByteArray& headers) {
    return "HTTP/1.1 " + QByteArray::number(status) + " Answer\r\n" + headers +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QString FakeEndpoint::ClosedEndpoint() {
    const auto [fd, port] = Listen();
    ::close(fd);
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

} // namespace winwarden
