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
            *error = u"another program listens at "_s + path;
            return false;
        }
        QLocalServer::removeServer(path);
    }
    if (!server.listen(path)) {
        *error = u"cannot listen at "_s + path + u": "_s + server.errorString();
        return false;
    }
    return true;
}

} // namespace winwarden
