#pragma once

#include "platform/nativeframing.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

namespace winwarden::test {

QString AllowedOrigin();
QByteArray Frame(const QJsonObject& message);
QString HostProgram();

// XDG_RUNTIME_DIR is a private folder while this lives, so the bridge socket is the test's.
class RuntimeFolder final {
public:
    RuntimeFolder() : m_before(qgetenv("XDG_RUNTIME_DIR")) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
    }
    ~RuntimeFolder() { qputenv("XDG_RUNTIME_DIR", m_before); }

private:
    QTemporaryDir m_dir;
    QByteArray m_before;
};

// The frames one side received.
class Received {
public:
    bool WaitForMessages(size_t count, int timeoutMs = 5000) {
        return QTest::qWaitFor([&] { return m_received.size() >= count; }, timeoutMs);
    }
    const std::vector<QJsonObject>& Messages() const { return m_received; }

protected:
    void Feed(FrameReader& reader, const QByteArray& bytes) {
        for (QJsonObject& message : reader.Feed(bytes))
            m_received.push_back(std::move(message));
    }
    std::vector<QJsonObject> m_received;
};

// The real winwarden-host, started through pipes as a browser starts it.
class HostProcess final : public Received {
public:
    ~HostProcess();
    bool Start(const QStringList& arguments = {AllowedOrigin()});
    void Send(const QJsonObject& message) { m_process.write(Frame(message)); }
    void SendRaw(const QByteArray& bytes) { m_process.write(bytes); }
    void CloseInput() { m_process.closeWriteChannel(); }
    bool Flush();
    QProcess& Process() { return m_process; }

private:
    QProcess m_process;
    FrameReader m_reader{kToBrowserFrameCap};
};

// A stand-in for winwarden's end of the bridge socket.
class FakeWinwarden final : public Received {
public:
    bool Listen(const QString& path);
    void Send(const QJsonObject& message) { SendRaw(Frame(message)); }
    void SendRaw(const QByteArray& bytes) {
        if (m_socket)
            m_socket->write(bytes);
    }
    int Connections() const { return m_connections; }

private:
    QLocalServer m_server;
    QLocalSocket* m_socket = nullptr;
    FrameReader m_reader{kFromBrowserFrameCap};
    int m_connections = 0;
};

} // namespace winwarden::test
