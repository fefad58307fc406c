#include "platform/runtimedir.h"

#include <QFile>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace winwarden {

namespace {

// The folder exists (or is made now) as a real directory of ours that nobody else may enter.
bool IsPrivateDir(const QByteArray& path) {
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid()) {
        return false;
    }
    return (info.st_mode & 077) == 0 || ::chmod(path.constData(), 0700) == 0;
}

} // namespace

QString RuntimeDir() {
    const QByteArray base = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray path = !base.isEmpty() && base.startsWith('/')
                                ? base + "/winwarden"
                                : "/tmp/winwarden-" + QByteArray::number(::getuid());
    return IsPrivateDir(path) ? QFile::decodeName(path) : QString();
}

} // namespace winwarden
