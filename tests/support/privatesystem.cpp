#include "tests/support/privatesystem.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace winwarden::test {

QByteArray Snapshot(const QStringList& folders) {
    QStringList entries;
    const auto add = [&entries](const QString& path) {
        QFile file(path);
        entries.append(
            file.fileName() + QString::number(int(QFileInfo(file).permissions())) +
            QString::fromLatin1(QCryptographicHash::hash(
                QFileInfo(file).isFile() && file.open(QIODevice::ReadOnly) ? file.readAll()
                                                                           : QByteArray(),
                QCryptographicHash::Sha256)));
    };
    for (const QString& folder : folders) {
        if (QFileInfo(folder).isFile())
            add(folder);
        QDirIterator it(folder,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            add(it.next());
    }
    entries.sort();
    return entries.join(u'\n').toUtf8();
}

namespace {

constexpr char kInside[] = "WINWARDEN_PRIVATE_SYSTEM";

bool Mount(const char* type, const QString& target, const QString& options) {
    const QByteArray where = QFile::encodeName(target);
    if (::mount(type, where.constData(), type, 0, options.toLocal8Bit().constData()) != 0) {
        std::fprintf(stderr, "cannot mount %s over %s: %s\n", type, where.constData(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

int Outside(int argc, char** argv) {
    // What the programs under test could write for real if the overlays were missing: the
    // browser install's folders, the guard's, and what `cmake --install` puts in /usr/local.
    const QStringList folders =
        SystemFolders() +
        u"/etc/winwarden /var/lib/winwarden /run/winwarden /etc/passwd /etc/group "
        u"/usr/local/bin/winwarden-host /usr/local/sbin /usr/local/lib/systemd "
        u"/usr/local/lib/sysusers.d"_s.split(u' ');
    const QByteArray before = Snapshot(folders);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv(kInside, "1", 1);
        std::vector<const char*> command{"unshare", "-m", "--propagation", "private",
                                         "-p",      "-f", "--mount-proc"};
        command.insert(command.end(), argv, argv + argc + 1); // with its null
        ::execvp("unshare", const_cast<char* const*>(command.data()));
        std::perror("unshare");
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (Snapshot(folders) != before) {
        std::fprintf(stderr, "FAIL: the real system folders changed\n");
        return 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

QStringList SystemFolders() {
    QStringList folders;
    for (const QString& folder : {u"/etc/chromium"_s, u"/etc/opt"_s, u"/usr/lib/mozilla"_s,
                                  u"/usr/share/firefox-esr/distribution"_s, u"/etc/firefox-esr"_s,
                                  u"/etc/firefox"_s, u"/usr/local/share"_s}) {
        if (QFileInfo(folder).isDir())
            folders.append(folder);
    }
    return folders;
}

int RunWithPrivateSystemFolders(int argc, char** argv, const std::function<int()>& body) {
    if (qEnvironmentVariableIsEmpty(kInside))
        return Outside(argc, argv);
    // Outside the overlays, an install writes only into these: a folder missing here would be
    // made for real.
    QStringList overlaid{u"/etc"_s, u"/var"_s, u"/run"_s, u"/usr/local"_s, u"/usr/lib/mozilla"_s};
    if (QFileInfo(u"/usr/share/firefox-esr"_s).isDir())
        overlaid << u"/usr/share/firefox-esr/distribution"_s;
    for (const QString& folder : std::as_const(overlaid)) {
        if (!QFileInfo(folder).isDir()) {
            std::fprintf(stderr, "FAIL: %s is missing, so a test could not keep it private\n",
                         qPrintable(folder));
            return 1;
        }
    }
    // The upper layers live in memory: an overlay's upper layer cannot be another overlay,
    // which the root of a container often is.
    const QTemporaryDir layers;
    if (!Mount("tmpfs", layers.path(), u"mode=0700"_s))
        return 1;
    for (qsizetype i = 0; i < overlaid.size(); ++i) {
        const QString upper = layers.filePath(u"%1/upper"_s.arg(i));
        const QString work = layers.filePath(u"%1/work"_s.arg(i));
        if (!QDir().mkpath(upper) || !QDir().mkpath(work) ||
            !Mount("overlay", overlaid[i],
                   u"lowerdir=%1,upperdir=%2,workdir=%3"_s.arg(overlaid[i], upper, work)))
            return 1;
    }
    const int status = body();
    ::umount2(QFile::encodeName(layers.path()).constData(), MNT_DETACH); // so that it goes
    return status;
}

} // namespace winwarden::test
