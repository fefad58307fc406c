// winwarden-host: the native-messaging host that a browser starts for winwarden's companion
// extension. It relays the browser's tab lists to the running winwarden and winwarden's close
// requests back, and ends when the browser closes its input.
#include "host/hostrelay.h"
#include "platform/programlog.h"
#include "res/version.h"

#include <QCoreApplication>
#include <csignal>

int main(int argc, char** argv) {
    if (winwarden::res::PrintVersionIfAsked(argc, argv, "winwarden-host")) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    // A browser that went away shows as a failed write, not as a signal that ends us.
    std::signal(SIGPIPE, SIG_IGN);
    const QStringList arguments = app.arguments().mid(1);
    const QString caller = winwarden::AllowedBridgeCaller(arguments);
    if (caller.isEmpty()) {
        winwarden::LogLine(
            QStringLiteral("不接受的调用者：%1").arg(arguments.join(u' ').left(200)));
        return 1;
    }
    winwarden::HostRelay relay(caller);
    return app.exec();
}
