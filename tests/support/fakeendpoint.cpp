#include "tests/support/fakeendpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

// A listening socket on 127.0.0.1 with a port the system chose, and that port.
std::pair<int, quint16> Listen() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        qFatal("cannot listen on 127.0.0.1");
    }
    return {fd, ntohs(address.sin_port)};
}

// Reads until the end of the request's header (or the peer stops sending).
QByteArray ReadRequest(int socket) {
    QByteArray request;
    while (!request.contains("\r\n\r\n") && request.size() < 65536) {
        pollfd wait{socket, POLLIN, 0};
        char buffer[4096];
        if (::poll(&wait, 1, 2000) <= 0) {
            break;
        }
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        request.append(buffer, got);
    }
    return request;
}

} // namespace

bool SendAll(int socket, const QByteArray& data) {
    qsizetype sent = 0;
    while (sent < data.size()) {
        const ssize_t put = ::send(socket, data.constData() + sent,
                                   static_cast<size_t>(data.size() - sent), MSG_NOSIGNAL);
        if (put <= 0) {
            return false;
        }
        sent += put;
    }
    return true;
}

FakeEndpoint::FakeEndpoint(Handler serve) {
    std::tie(m_listener, m_port) = Listen();
    m_thread = std::thread([this, serve = std::move(serve)] { Run(serve); });
}

FakeEndpoint::~FakeEndpoint() {
    m_stopping = true;
    m_thread.join();
    ::close(m_listener);
}

void FakeEndpoint::Run(const Handler& serve) {
    while (!m_stopping) {
        pollfd wait{m_listener, POLLIN, 0};
        if (::poll(&wait, 1, 20) <= 0) {
            continue;
        }
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            continue;
        }
        const QByteArray request = ReadRequest(connection);
        {
            const std::lock_guard lock(m_mutex);
            m_requests.push_back(request.left(request.indexOf("\r\n")));
        }
        serve(connection, m_stopping);
        ::close(connection);
    }
}

QString FakeEndpoint::Endpoint() const {
    return u"127.0.0.1:%1"_s.arg(m_port);
}

std::vector<QByteArray> FakeEndpoint::Requests() const {
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

FakeEndpoint::Handler FakeEndpoint::Answer(int status, const QByteArray& body) {
    return [status, body](int socket, const std::atomic<bool>&) {
        SendAll(socket, "HTTP/1.1 " + QByteArray::number(status) +
                            " Answer\r\nContent-Type: application/json\r\nContent-Length: " +
                            QByteArray::number(body.size()) + "\r\n\r\n" + body);
    };
}

FakeEndpoint::Handler FakeEndpoint::Redirect(const QString& location) {
    return [location = location.toUtf8()](int socket, const std::atomic<bool>&) {
        SendAll(socket,
                "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n");
    };
}

FakeEndpoint::Handler FakeEndpoint::NeverAnswer() {
    return [](int, const std::atomic<bool>& stopping) {
        while (!stopping) {
            ::usleep(10000);
        }
    };
}

FakeEndpoint::Handler FakeEndpoint::PaddedList(qint64 bytes) {
    return [bytes](int socket, const std::atomic<bool>& stopping) {
        const QByteArray chunk(65536, ' ');
        if (!SendAll(socket, "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(bytes) +
                                 "\r\n\r\n[")) {
            return;
        }
        qint64 sent = 1;
        for (; sent + chunk.size() < bytes && !stopping; sent += chunk.size()) {
            if (!SendAll(socket, chunk)) {
                return;
            }
        }
        SendAll(socket, QByteArray(bytes - sent - 1, ' ') + ']');
    };
}

QString FakeEndpoint::ClosedEndpoint() {
    const auto [fd, port] = Listen();
    ::close(fd);
    return u"127.0.0.1:%1"_s.arg(port);
}

} // namespace winwarden
