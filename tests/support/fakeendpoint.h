#pragma once

#include <QString>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace winwarden {

// A stand-in DevTools endpoint on a free 127.0.0.1 port, served by its own thread one connection
// at a time: every request gets `answer` (a whole HTTP response) after `delayMs`.
class FakeEndpoint final {
public:
    explicit FakeEndpoint(QByteArray answer, int delayMs = 0);
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
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::vector<QByteArray> m_requests;
    std::thread m_thread;
};

} // namespace winwarden
