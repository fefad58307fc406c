#include "tests/support/nativehost.h"

#include "platform/bridgeprotocol.h"

#include <QCoreApplication>

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

HostProcess::~HostProcess() {
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool HostProcess::Start(const QStringList& arguments) {
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                     [this] { Feed(m_reader, m_process.readAllStandardOutput()); });
    m_process.start(HostProgram(), arguments);
    return m_process.waitForStarted(5000);
}

bool HostProcess::Flush() {
    while (m_process.bytesToWrite() > 0)
        if (!m_process.waitForBytesWritten(5000))
            return false;
    return true;
}

bool FakeWinwarden::Listen(const QString& path) {
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

} // namespace winwarden::test
