#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace winwarden {

// A stand-in for a browser's DevTools endpoint: a plain socket on 127.0.0.1 with a free port,
// served by its own thread, one connection at a time. `serve` gets each accepted connection
// after its request has been read, and a flag that turns true when the endpoint is destroyed
// (a handler that stalls must watch it).
class FakeEndpoint final {
public:
    using Handler = std::function<void(int socket, const std::atomic<bool>& stopping)>;

    explicit FakeEndpoint(Handler serve);
    ~FakeEndpoint();
    FakeEndpoint(const FakeEndpoint&) = delete;
    FakeEndpoint& operator=(const FakeEndpoint&) = delete;

    // "127.0.0.1:<port>"
    QString Endpoint() const;
    // The request lines received so far ("GET /json/list HTTP/1.1").
    std::vector<QByteArray> Requests() const;

    // Handlers for the usual cases.
    static Handler Answer(int status, const QByteArray& body);
    static Handler Redirect(const QString& location);
    static Handler NeverAnswer();
    // A 200 answer of `bytes` bytes: an empty JSON list padded with blanks.
    static Handler PaddedList(qint64 bytes);

    // "127.0.0.1:<port>" of a port on which nothing listens.
    static QString ClosedEndpoint();

private:
    void Run(const Handler& serve);

    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::vector<QByteArray> m_requests;
    std::thread m_thread;
};

// Writes all of `data` to `socket`; false when the peer has gone.
bool SendAll(int socket, const QByteArray& data);

} // namespace winwarden
