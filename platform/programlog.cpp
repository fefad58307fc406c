#include "platform/programlog.h"

#include <QDebug>
#include <cerrno>

namespace winwarden {

void LogLine(const QString& line) {
    // The name the program was started by, as the journal's identifier is: the engine and the
    // bridge run in the window and in the guard alike. Through Qt's log, which writes standard
    // error (or the journal, where Qt finds itself run by systemd) and which tests can expect.
    qWarning().noquote() << QString::fromLocal8Bit(program_invocation_short_name) +
                                QStringLiteral(": ") + line;
}

} // namespace winwarden
