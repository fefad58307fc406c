#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace winwarden {

// A stand-in DevTools endpoint (or a browser's proxy) on a free 127.0.0.1 port, each connection
// served by a thread of its own: every request gets `answer` (a whole HTTP response) after
// `delayMs`, or what `answer` makes of its request line (called on any of those threads).
class FakeEndpoint final {
public:
    using Answering = std::function<QByteArray(const QByteArray& requestLine)>;
    explicit FakeEndpoint(QByteArray answer, int delayMs = 0);
    explicit FakeEndpoint(Answering answer, int delayMs = 0);
    ~FakeEndpoint();

    QString Endpoint() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // The request lines received so far ("GET /json/list HTTP/1.1").
    std::vector<QByteArray> Requests() const {
        const std::lock_guard lock(m_mutex);
        return m_requests;
    }

    static QByteArray Answer(int status, const QByteArray& body, const QByteArray& headers = {});
    // "127.0.0.1:<port>" of a port on which nothing listens.
    static QString ClosedEndpoint();

private:
    void Serve(int socket);

    const Answering m_answering;
    const int m_delayMs;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_serving{0};
    mutable std::mutex m_mutex;
    std::vector<QByteArray> m_requests;
    std::thread m_thread;
};

} // namespace winwarden
