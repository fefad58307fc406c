#pragma once

#include "platform/nativeframing.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

namespace winwarden::test {

// The Chromium caller winwarden-host accepts.
QString AllowedOrigin();
// A message's frame as the browser or winwarden writes it.
QByteArray Frame(const QJsonObject& message);
// The winwarden-host built beside this test program.
QString HostProgram();

// A private runtime folder for one test: XDG_RUNTIME_DIR points there while it lives, so that
// the bridge socket of the test is nobody else's.
class RuntimeFolder final {
public:
    RuntimeFolder();
    ~RuntimeFolder();
    // The bridge socket's path in it; makes the private folder the socket lives in.
    QString SocketPath() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_before;
};

// The real winwarden-host, started through pipes as a browser starts it.
class HostProcess final {
public:
    ~HostProcess();
    bool Start(const QStringList& arguments = {AllowedOrigin()});
    void Send(const QJsonObject& message) { m_process.write(Frame(message)); }
    void SendRaw(const QByteArray& bytes) { m_process.write(bytes); }
    void CloseInput() { m_process.closeWriteChannel(); }
    // Writes everything sent so far before returning (waiting in the event loop writes a
    // piece only every 10 ms).
    bool Flush();
    // Waits until at least `count` messages have come to the browser side.
    bool WaitForMessages(size_t count, int timeoutMs = 5000);
    const std::vector<QJsonObject>& Messages() const { return m_received; }
    QProcess& Process() { return m_process; }

private:
    QProcess m_process;
    FrameReader m_reader{kToBrowserFrameCap};
    std::vector<QJsonObject> m_received;
};

// A stand-in for winwarden's end of the bridge socket: the frames that each host sends.
class FakeWinwarden final {
public:
    bool Listen(const QString& path);
    bool WaitForMessages(size_t count, int timeoutMs = 5000);
    const std::vector<QJsonObject>& Messages() const { return m_received; }
    void Send(const QJsonObject& message);
    void SendRaw(const QByteArray& bytes);
    int Connections() const { return m_connections; }

private:
    QLocalServer m_server;
    QLocalSocket* m_socket = nullptr;
    FrameReader m_reader{kFromBrowserFrameCap};
    std::vector<QJsonObject> m_received;
    int m_connections = 0;
};

} // namespace winwarden::test
