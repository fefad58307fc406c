#include "platform/localserver.h"

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

using namespace Qt::StringLiterals;

namespace winwarden {

bool ListenOnce(QLocalServer& server, const QString& path, QString* error) {
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(500)) {
            *error = u"另一个程序已在 %1 上监听"_s.arg(path);
            return false;
        }
        QLocalServer::removeServer(path);
    }
    if (!server.listen(path)) {
        *error = u"无法在 %1 上监听：%2"_s.arg(path, server.errorString());
        return false;
    }
    return true;
}

} // namespace winwarden
