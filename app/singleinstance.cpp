#include "app/singleinstance.h"

#include "platform/programlog.h"
#include "platform/runtimedir.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

namespace winwarden {

namespace {

constexpr int kConnectMs = 1000;
constexpr int kAnswerMs = 3000;
const QByteArray kShowRequest = "show\n";
const QByteArray kShownAnswer = "shown\n";

// The same database reached by another spelling of its path is the same database.
QString DatabaseKey(const QString& databasePath) {
    if (databasePath.contains(QStringLiteral("://"))) {
        return databasePath;
    }
    const QFileInfo file(databasePath);
    const QString canonical = file.canonicalFilePath();
    return canonical.isEmpty() ? file.absoluteFilePath() : canonical;
}

} // namespace

SingleInstance::SingleInstance(const QString& databasePath, QObject* parent) : QObject(parent) {
    const QString dir = RuntimeDir();
    if (!dir.isEmpty()) {
        const QByteArray hash = QCryptographicHash::hash(DatabaseKey(databasePath).toUtf8(),
                                                         QCryptographicHash::Sha256);
        m_socketPath =
            dir + QStringLiteral("/instance-") + QString::fromLatin1(hash.toHex().left(32));
    }
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Claim SingleInstance::ClaimDatabase() {
    if (m_socketPath.isEmpty()) {
        LogLine(QStringLiteral(
            "没有私有的运行时文件夹（XDG_RUNTIME_DIR），无法发现同时运行的另一个浏览哨兵"));
        return Claim::First;
    }
    // Two copies started at once must not both find the socket dead and both take it.
    QLockFile lock(m_socketPath + QStringLiteral(".lock"));
    lock.tryLock(kConnectMs + kAnswerMs);

    const Claim running = AskRunningCopy();
    if (running != Claim::First) {
        return running;
    }
    // Nobody listens: whatever is left at the path belongs to a copy that is gone.
    QLocalServer::removeServer(m_socketPath);
    m_server = new QLocalServer(this);
    if (!m_server->listen(m_socketPath)) {
        LogLine(QStringLiteral("无法在 %1 上监听：%2").arg(m_socketPath, m_server->errorString()));
        return Claim::First;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::Answer);
    return Claim::First;
}

SingleInstance::Claim SingleInstance::AskRunningCopy() {
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(kConnectMs)) {
        return Claim::First;
    }
    socket.write(kShowRequest);
    socket.flush();
    QByteArray answer;
    while (!answer.endsWith('\n') && socket.waitForReadyRead(kAnswerMs)) {
        answer += socket.readAll();
    }
    return answer == kShownAnswer ? Claim::HandedOver : Claim::Unanswered;
}

void SingleInstance::Answer() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                return;
            }
            if (socket->readLine() == kShowRequest) {
                Q_EMIT showRequested();
                socket->write(kShownAnswer);
            }
            socket->disconnectFromServer();
        });
    }
}

} // namespace winwarden
