#include "tests/support/fakeproc.h"

#include <QDir>
#include <QFile>

namespace winwarden::test {

namespace {

bool Write(const QString& path, const QByteArray& contents) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

} // namespace

bool WriteFakeProcess(const QString& root, pid_t pid, pid_t parent, quint64 startTime,
                      const QByteArray& commandLine, uid_t uid, const QByteArray& name) {
    const QString folder = root + u'/' + QString::number(pid);
    const QByteArray id = QByteArray::number(uid);
    return QDir().mkpath(folder) &&
           Write(folder + QStringLiteral("/stat"),
                 QByteArray::number(pid) + " (" + name + ") S " + QByteArray::number(parent) +
                     " 1 1 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 " + QByteArray::number(startTime) +
                     " 1000 100 18446744073709551615\n") &&
           Write(folder + QStringLiteral("/cmdline"), commandLine) &&
           Write(folder + QStringLiteral("/status"), "Name:\t" + name + "\nUmask:\t0022\nUid:\t" +
                                                         id + '\t' + id + '\t' + id + '\t' + id +
                                                         "\nGid:\t1\t1\t1\t1\n");
}

QByteArray Arguments(std::initializer_list<const char*> arguments) {
    QByteArray text;
    for (const char* argument : arguments) {
        text += argument;
        text += '\0';
    }
    return text;
}

} // namespace winwarden::test
