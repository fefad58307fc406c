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

// Every entry under the folders, with its kind, mode and contents' hash.
QByteArray Snapshot(const QStringList& folders) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString& folder : folders) {
        QDirIterator it(folder,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        QStringList entries;
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            QFile file(info.filePath());
            const QByteArray contents =
                info.isFile() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            entries.append(
                info.filePath() + u' ' + QString::number(int(info.permissions())) + u' ' +
                QString::fromLatin1(
                    QCryptographicHash::hash(contents, QCryptographicHash::Sha256).toHex()));
        }
        entries.sort();
        hash.addData(entries.join(u'\n').toUtf8());
    }
    return hash.result();
}

int Outside(char** argv) {
    const QStringList folders = SystemFolders();
    const QByteArray before = Snapshot(folders);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv(kInside, "1", 1);
        std::vector<char*> command{const_cast<char*>("unshare"),
                                   const_cast<char*>("-m"),
                                   const_cast<char*>("--propagation"),
                                   const_cast<char*>("private"),
                                   const_cast<char*>("-p"),
                                   const_cast<char*>("-f"),
                                   const_cast<char*>("--mount-proc")};
        for (char** arg = argv; *arg != nullptr; ++arg) {
            command.push_back(*arg);
        }
        command.push_back(nullptr);
        ::execvp("unshare", command.data());
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

bool BindCopies(const QStringList& folders, std::vector<std::unique_ptr<QTemporaryDir>>& copies) {
    for (const QString& folder : folders) {
        auto copy = std::make_unique<QTemporaryDir>();
        const QString command = u"cp -a '%1/.' '%2/'"_s.arg(folder, copy->path());
        if (!copy->isValid() || std::system(command.toLocal8Bit().constData()) != 0 ||
            ::mount(QFile::encodeName(copy->path()).constData(),
                    QFile::encodeName(folder).constData(), nullptr, MS_BIND, nullptr) != 0) {
            std::fprintf(stderr, "cannot bind a copy over %s\n", qPrintable(folder));
            return false;
        }
        copies.push_back(std::move(copy));
    }
    return true;
}

} // namespace

QStringList SystemFolders() {
    QStringList folders;
    for (const QString& folder : {u"/etc/chromium"_s, u"/etc/opt"_s, u"/usr/lib/mozilla"_s,
                                  u"/usr/share/firefox-esr/distribution"_s, u"/etc/firefox-esr"_s,
                                  u"/etc/firefox"_s, u"/usr/local/share"_s}) {
        if (QFileInfo(folder).isDir()) {
            folders.append(folder);
        }
    }
    return folders;
}

int RunWithPrivateSystemFolders(int argc, char** argv, const std::function<int()>& body) {
    (void)argc;
    if (qEnvironmentVariableIsEmpty(kInside)) {
        return Outside(argv);
    }
    // An install writes nothing outside these: a folder missing here would be made for real.
    QStringList needed{u"/etc/chromium"_s, u"/etc/opt"_s, u"/usr/lib/mozilla"_s,
                       u"/usr/local/share"_s};
    if (QFileInfo(u"/usr/share/firefox-esr"_s).isDir()) {
        needed << u"/etc/firefox-esr"_s << u"/usr/share/firefox-esr/distribution"_s;
    }
    if (QFileInfo(u"/usr/lib/firefox"_s).isDir()) {
        needed << u"/etc/firefox"_s;
    }
    for (const QString& folder : std::as_const(needed)) {
        if (!QFileInfo(folder).isDir()) {
            std::fprintf(stderr, "FAIL: %s is missing, so a test could not keep it private\n",
                         qPrintable(folder));
            return 1;
        }
    }
    std::vector<std::unique_ptr<QTemporaryDir>> copies;
    if (!BindCopies(SystemFolders(), copies)) {
        return 1;
    }
    return body();
}

} // namespace winwarden::test
