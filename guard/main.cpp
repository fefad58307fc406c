// winwarden-guard: the monitor engine as a system service, over every local user's browsers,
// with rules that only the service's user writes.
#include "control/controlserver.h"
#include "engine/monitorengine.h"
#include "guard/guard.h"
#include "guard/guardcheck.h"
#include "guard/guardoptions.h"
#include "platform/programlog.h"
#include "res/version.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <sys/stat.h>

int main(int argc, char** argv) {
    if (winwarden::res::PrintVersionIfAsked(argc, argv, "winwarden-guard")) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    // Nothing the guard makes is for others to write, nor its rules for others to read.
    ::umask(027);
    std::signal(SIGPIPE, SIG_IGN); // a host that went away shows as a failed write
    winwarden::GuardOptions options;
    if (!winwarden::ParseGuardOptions(app.arguments().mid(1), options)) {
        std::fputs(qUtf8Printable(winwarden::GuardUsage()), stderr);
        return 2;
    }
    if (options.help) {
        std::fputs(qUtf8Printable(winwarden::GuardHelp()), stdout);
        return 0;
    }
    if (options.check) {
        return winwarden::RunGuardCheck(options.paths);
    }
    winwarden::Guard guard(options.paths);
    if (!guard.Start()) {
        return 1;
    }
    // Every user's window, over the control socket: root and the group winwarden change rules.
    winwarden::ControlServer control(guard.Engine(), winwarden::AdministratorsGroup());
    QString error;
    if (!control.Listen(options.paths.ControlSocket(), &error)) {
        winwarden::LogLine(error);
        return 1;
    }
    return QCoreApplication::exec();
}
