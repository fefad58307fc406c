#pragma once

#include "platform/bridgeprotocol.h"
#include "platform/nativeframing.h"
#include "tests/support/peeruser.h"
#include "tests/support/testdb.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>
#include <vector>

namespace winwarden::test {

using namespace Qt::StringLiterals;

inline QString AllowedOrigin() {
    return QStringLiteral("chrome-extension://%1/").arg(QLatin1StringView(kBridgeChromiumId));
}
inline QByteArray Frame(const QJsonObject& message) {
    return EncodeFrame(message, kFromBrowserFrameCap).value_or(QByteArray());
}
inline QString HostProgram() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../host/winwarden-host");
}

// The exit status of winwarden-browser (-1: it crashed or hung).
inline int
BrowserTool(const QStringList& arguments,
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    return RunProgram(QCoreApplication::applicationDirPath() + u"/../tools/winwarden-browser"_s,
                      arguments, {}, environment)
        .code;
}

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
    // The monitor's heartbeats, kept apart: they come after every cycle.
    const std::vector<QJsonObject>& Alives() const { return m_alives; }

protected:
    void Feed(FrameReader& reader, const QByteArray& bytes) {
        for (QJsonObject& message : reader.Feed(bytes))
            (message[u"type"] == u"alive"_s ? m_alives : m_received).push_back(std::move(message));
    }
    std::vector<QJsonObject> m_received;
    std::vector<QJsonObject> m_alives;
};

// The real winwarden-host, started through pipes as a browser starts it.
class HostProcess final : public Received {
public:
    ~HostProcess() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    bool Start(const QStringList& arguments = {AllowedOrigin()}) {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                         [this] { Feed(m_reader, m_process.readAllStandardOutput()); });
        m_process.start(HostProgram(), arguments);
        return m_process.waitForStarted(5000);
    }
    void Send(const QJsonObject& message) { m_process.write(Frame(message)); }
    void SendRaw(const QByteArray& bytes) { m_process.write(bytes); }
    void CloseInput() { m_process.closeWriteChannel(); }
    bool Flush() {
        while (m_process.bytesToWrite() > 0)
            if (!m_process.waitForBytesWritten(5000))
                return false;
        return true;
    }
    QProcess& Process() { return m_process; }

private:
    QProcess m_process;
    FrameReader m_reader{kToBrowserFrameCap};
};

// A stand-in for winwarden's end of the bridge socket.
class FakeWinwarden final : public Received {
public:
    bool Listen(const QString& path) {
        QObject::connect(&m_server, &QLocalServer::newConnection, [this] {
            m_socket = m_server.nextPendingConnection();
            m_reader = FrameReader(kFromBrowserFrameCap);
            ++m_connections;
            QObject::connect(m_socket, &QLocalSocket::readyRead,
                             [this, socket = m_socket] { Feed(m_reader, socket->readAll()); });
        });
        QLocalServer::removeServer(path);
        return m_server.listen(path);
    }
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

// A hand-made client of a local socket that speaks in frames (a bridge's, the guard's control
// socket), connected as `uid` for good: the kernel keeps the credentials of the connect.
class BridgeClient final : public Received {
public:
    explicit BridgeClient(qsizetype cap = kToBrowserFrameCap) : m_reader(cap) {}
    bool Connect(const QString& path, uid_t uid = ::geteuid()) {
        QObject::connect(&m_socket, &QLocalSocket::readyRead,
                         [this] { Feed(m_reader, m_socket.readAll()); });
        bool connected = false;
        const auto connect = [&] {
            m_socket.connectToServer(path);
            connected = m_socket.waitForConnected(2000);
        };
        if (uid == ::geteuid())
            connect();
        return (uid == ::geteuid() || AsUser(uid, uid, {}, connect)) && connected;
    }
    void Send(const QJsonObject& message) { SendRaw(Frame(message)); }
    void SendRaw(const QByteArray& bytes) {
        m_socket.write(bytes);
        m_socket.flush();
    }
    // The server ended the connection.
    bool WaitForCutOff(int timeoutMs = 5000) {
        return QTest::qWaitFor([&] { return m_socket.state() == QLocalSocket::UnconnectedState; },
                               timeoutMs);
    }

private:
    QLocalSocket m_socket;
    FrameReader m_reader;
};

} // namespace winwarden::test
