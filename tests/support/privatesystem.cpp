#include "tests/support/privatesystem.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace winwarden::test {

namespace {

constexpr char kInside[] = "WINWARDEN_PRIVATE_SYSTEM";

} // namespace

QByteArray Snapshot(const QStringList& folders) {
    QStringList entries;
    for (const QString& folder : folders) {
        QDirIterator it(folder,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            entries.append(
                file.fileName() + QString::number(int(QFileInfo(file).permissions())) +
                QString::fromLatin1(QCryptographicHash::hash(
                    QFileInfo(file).isFile() && file.open(QIODevice::ReadOnly) ? file.readAll()
                                                                               : QByteArray(),
                    QCryptographicHash::Sha256)));
        }
    }
    entries.sort();
    return entries.join(u'\n').toUtf8();
}

namespace {

int Outside(int argc, char** argv) {
    const QStringList folders = SystemFolders();
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
    // An install writes nothing outside these: a folder missing here would be made for real.
    QStringList needed{u"/etc/chromium"_s, u"/etc/opt"_s, u"/usr/lib/mozilla"_s,
                       u"/usr/local/share"_s};
    if (QFileInfo(u"/usr/share/firefox-esr"_s).isDir())
        needed << u"/etc/firefox-esr"_s << u"/usr/share/firefox-esr/distribution"_s;
    if (QFileInfo(u"/usr/lib/firefox"_s).isDir())
        needed << u"/etc/firefox"_s;
    for (const QString& folder : std::as_const(needed)) {
        if (!QFileInfo(folder).isDir()) {
            std::fprintf(stderr, "FAIL: %s is missing, so a test could not keep it private\n",
                         qPrintable(folder));
            return 1;
        }
    }
    std::vector<std::unique_ptr<QTemporaryDir>> copies;
    for (const QString& folder : SystemFolders()) {
        const auto& copy = copies.emplace_back(std::make_unique<QTemporaryDir>());
        const QString command = u"cp -a '%1/.' '%2/'"_s.arg(folder, copy->path());
        if (std::system(command.toLocal8Bit().constData()) != 0 ||
            ::mount(QFile::encodeName(copy->path()).constData(),
                    QFile::encodeName(folder).constData(), nullptr, MS_BIND, nullptr) != 0) {
            std::fprintf(stderr, "cannot bind a copy over %s\n", qPrintable(folder));
            return 1;
        }
    }
    return body();
}

} // namespace winwarden::test
