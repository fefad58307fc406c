#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

namespace winwarden::test {

// A process folder as /proc shows it, written under `root`: stat (the kernel's name, parent and
// start time), cmdline exactly as given, and status with its user ids. False when it cannot be
// written.
bool WriteFakeProcess(const QString& root, pid_t pid, pid_t parent, quint64 startTime,
                      const QByteArray& commandLine, uid_t uid = 1000,
                      const QByteArray& name = "proc");

// Arguments as the kernel keeps them: each one followed by a NUL.
QByteArray Arguments(std::initializer_list<const char*> arguments);

} // namespace winwarden::test
