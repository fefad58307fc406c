#include "tests/support/fakeproc.h"

#include "tests/support/bridgebrowser.h"

namespace winwarden::test {

bool WriteFakeProcess(const QString& root, pid_t pid, pid_t parent, quint64 startTime,
                      const QByteArray& commandLine, uid_t uid, const QByteArray& name) {
    const QString folder = root + u'/' + QString::number(pid);
    const QByteArray id = QByteArray::number(uid);
    return WriteFile(folder + QStringLiteral("/stat"),
                     QByteArray::number(pid) + " (" + name + ") S " + QByteArray::number(parent) +
                         " 1 1 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 " +
                         QByteArray::number(startTime) + " 1000 100 18446744073709551615\n") &&
           WriteFile(folder + QStringLiteral("/cmdline"), commandLine) &&
           WriteFile(folder + QStringLiteral("/status"),
                     "Name:\t" + name + "\nUmask:\t0022\nUid:\t" + id + '\t' + id + '\t' + id +
                         '\t' + id + "\nGid:\t1\t1\t1\t1\n");
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
