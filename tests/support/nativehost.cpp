#include "tests/support/nativehost.h"

#include "platform/bridgeprotocol.h"

#include <QCoreApplication>
#include <QTest>

using namespace Qt::StringLiterals;

namespace winwarden::test {

QString AllowedOrigin() {
    return u"chrome-extension://"_s + QLatin1StringView(kBridgeChromiumId) + u'/';
}

QByteArray Frame(const QJsonObject& message) {
    return EncodeFrame(message, kFromBrowserFrameCap).value_or(QByteArray());
}

QString HostProgram() {
    return QCoreApplication::applicationDirPath() + u"/../host/winwarden-host"_s;
}

RuntimeFolder::RuntimeFolder() : m_before(qgetenv("XDG_RUNTIME_DIR")) {
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
}

RuntimeFolder::~RuntimeFolder() {
    qputenv("XDG_RUNTIME_DIR", m_before);
}

QString RuntimeFolder::SocketPath() const {
    return BridgeSocketPath();
}

HostProcess::~HostProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool HostProcess::Start(const QStringList& arguments) {
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
        for (QJsonObject& message : m_reader.Feed(m_process.readAllStandardOutput())) {
            m_received.push_back(std::move(message));
        }
    });
    m_process.start(HostProgram(), arguments);
    return m_process.waitForStarted(5000);
}

bool HostProcess::Flush() {
    while (m_process.bytesToWrite() > 0) {
        if (!m_process.waitForBytesWritten(5000)) {
            return false;
        }
    }
    return true;
}

bool HostProcess::WaitForMessages(size_t count, int timeoutMs) {
    return QTest::qWaitFor([&] { return m_received.size() >= count; }, timeoutMs);
}

bool FakeWinwarden::Listen(const QString& path) {
    QObject::connect(&m_server, &QLocalServer::newConnection, [this] {
        m_socket = m_server.nextPendingConnection();
        m_reader = FrameReader(kFromBrowserFrameCap);
        ++m_connections;
        QObject::connect(m_socket, &QLocalSocket::readyRead, [this, socket = m_socket] {
            for (QJsonObject& message : m_reader.Feed(socket->readAll())) {
                m_received.push_back(std::move(message));
            }
        });
    });
    QLocalServer::removeServer(path);
    return m_server.listen(path);
}

bool FakeWinwarden::WaitForMessages(size_t count, int timeoutMs) {
    return QTest::qWaitFor([&] { return m_received.size() >= count; }, timeoutMs);
}

void FakeWinwarden::Send(const QJsonObject& message) {
    SendRaw(Frame(message));
}

void FakeWinwarden::SendRaw(const QByteArray& bytes) {
    if (m_socket != nullptr) {
        m_socket->write(bytes);
    }
}

} // namespace winwarden::test
