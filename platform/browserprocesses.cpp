#include "platform/browserprocesses.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden {

QString BrowserFamilyOfProgram(const QString& executable) {
    QString path = executable;
    // A browser upgraded while it runs points at its old, deleted file.
    if (path.endsWith(" (deleted)"_L1)) {
        path.chop(10);
    }
    const QString name = QFileInfo(path).fileName();
    if (name == "chromium"_L1 || name == "chromium-browser"_L1) {
        return u"chromium"_s;
    }
    if (name == "chrome"_L1) {
        // Some distributions build Chromium under Chrome's program name.
        return path.contains("chromium"_L1) ? u"chromium"_s : u"chrome"_s;
    }
    if (name == "brave"_L1) {
        return u"brave"_s;
    }
    if (name == "msedge"_L1) {
        return u"edge"_s;
    }
    if (name == "vivaldi-bin"_L1 || name == "vivaldi"_L1) {
        return u"vivaldi"_s;
    }
    if (name == "opera"_L1) {
        return u"opera"_s;
    }
    if (name == "firefox"_L1 || name == "firefox-esr"_L1 || name == "firefox-bin"_L1) {
        return u"firefox"_s;
    }
    return {};
}

QString BrowserFamilyName(const QString& family) {
    static const std::map<QString, QString> names{
        {u"chromium"_s, u"Chromium"_s}, {u"chrome"_s, u"Chrome"_s},   {u"brave"_s, u"Brave"_s},
        {u"edge"_s, u"Edge"_s},         {u"vivaldi"_s, u"Vivaldi"_s}, {u"firefox"_s, u"Firefox"_s},
        {u"opera"_s, u"Opera"_s}};
    const auto name = names.find(family);
    return name != names.end() ? name->second : family;
}

namespace {

// The program a process runs: its executable link, or where that is closed to us (another
// user's process, read without CAP_SYS_PTRACE) the first argument of its command line. Empty
// for a kernel thread or a process that is gone.
QString ProgramOf(int procFd, const std::string& pid) {
    char link[4096];
    const ssize_t size = ::readlinkat(procFd, (pid + "/exe").c_str(), link, sizeof link);
    if (size > 0) {
        return QString::fromUtf8(link, size);
    }
    if (errno != EACCES && errno != EPERM) {
        return {};
    }
    const int fd = ::openat(procFd, (pid + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    char first[4096];
    const ssize_t got = ::read(fd, first, sizeof first - 1);
    ::close(fd);
    return got > 0 ? QString::fromUtf8(first, qsizetype(::strnlen(first, size_t(got)))) : QString();
}

class ProcFolder final {
public:
    ProcFolder() : m_dir(::opendir("/proc")) {}
    ~ProcFolder() {
        if (m_dir != nullptr) {
            ::closedir(m_dir);
        }
    }
    ProcFolder(const ProcFolder&) = delete;
    ProcFolder& operator=(const ProcFolder&) = delete;
    DIR* Dir() const { return m_dir; }
    int Fd() const { return m_dir != nullptr ? ::dirfd(m_dir) : -1; }

private:
    DIR* m_dir;
};

// A browser's own main process, not one of its helpers (a Chromium "--type=…" process, a
// Firefox "-contentproc"), and not one started with a DevTools port: that browser is watched
// through its port and needs no extension.
bool IsWatchableBrowserProcess(int procFd, const char* pid) {
    const int fd = ::openat(procFd, (std::string(pid) + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[8192];
    const ssize_t size = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (size <= 0) {
        return false;
    }
    const QByteArray arguments(buffer, size);
    for (const QByteArray& argument : arguments.split('\0')) {
        if (argument.startsWith("--type=") || argument == "-contentproc" ||
            argument.startsWith("--remote-debugging-port") ||
            argument.startsWith("--remote-debugging-pipe")) {
            return false;
        }
    }
    return true;
}

} // namespace

QString BrowserFamilyOfParent(qint64 pid) {
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly)) {
        return {};
    }
    // "pid (name) state ppid …": the name may hold spaces and parentheses, so read after the
    // last one.
    const QByteArray line = stat.read(4096);
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 1).simplified().split(' ');
    bool whole = false;
    const qint64 parent = fields.size() > 1 ? fields.at(1).toLongLong(&whole) : 0;
    const ProcFolder proc;
    if (!whole || parent <= 1 || proc.Fd() < 0) {
        return {};
    }
    return BrowserFamilyOfProgram(ProgramOf(proc.Fd(), std::to_string(parent)));
}

std::vector<RunningBrowser> RunningBrowsers(std::optional<uid_t> owner) {
    std::vector<RunningBrowser> browsers;
    const ProcFolder proc;
    if (proc.Dir() == nullptr) {
        return browsers;
    }
    while (const dirent* entry = ::readdir(proc.Dir())) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') {
            continue; // not a process
        }
        struct stat process {};
        if (::fstatat(proc.Fd(), entry->d_name, &process, 0) != 0 ||
            (owner && process.st_uid != *owner)) {
            continue;
        }
        RunningBrowser browser{process.st_uid,
                               BrowserFamilyOfProgram(ProgramOf(proc.Fd(), entry->d_name))};
        if (browser.family.isEmpty() ||
            std::find(browsers.begin(), browsers.end(), browser) != browsers.end() ||
            !IsWatchableBrowserProcess(proc.Fd(), entry->d_name)) {
            continue;
        }
        browsers.push_back(std::move(browser));
    }
    std::sort(browsers.begin(), browsers.end(), [](const auto& a, const auto& b) {
        return std::tie(a.uid, a.family) < std::tie(b.uid, b.family);
    });
    return browsers;
}

QStringList RunningBrowserFamilies() {
    QStringList families;
    for (const RunningBrowser& browser : RunningBrowsers(::getuid())) {
        families.append(browser.family);
    }
    return families;
}

namespace {

// The inodes of the sockets listening on `port`, from the kernel's TCP tables.
QList<QByteArray> ListeningSocketInodes(quint16 port) {
    QList<QByteArray> inodes;
    const QByteArray wanted = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        file.readLine(); // the heading
        while (!file.atEnd()) {
            // "sl local rem st tx:rx tr:when retrnsmt uid timeout inode ..."; 0A is LISTEN.
            const QList<QByteArray> fields = file.readLine().simplified().split(' ');
            if (fields.size() > 9 && fields[1].endsWith(wanted) && fields[3] == "0A") {
                inodes.append("socket:[" + fields[9] + ']');
            }
        }
    }
    return inodes;
}

} // namespace

QString BrowserFamilyListeningOn(quint16 port) {
    const QList<QByteArray> inodes = ListeningSocketInodes(port);
    if (inodes.isEmpty()) {
        return {};
    }
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return {};
    }
    const uid_t self = ::getuid();
    const int procFd = ::dirfd(proc);
    QString family;
    while (const dirent* entry = ::readdir(proc)) {
        struct stat owner {};
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9' ||
            ::fstatat(procFd, entry->d_name, &owner, 0) != 0 || owner.st_uid != self) {
            continue;
        }
        char link[4096];
        ssize_t size =
            ::readlinkat(procFd, (std::string(entry->d_name) + "/exe").c_str(), link, sizeof link);
        // Only a browser's own processes are worth a look at their sockets.
        const QString program =
            size > 0 ? BrowserFamilyOfProgram(QString::fromUtf8(link, size)) : QString();
        if (program.isEmpty()) {
            continue;
        }
        const std::string fds = std::string(entry->d_name) + "/fd";
        const int fdDir = ::openat(procFd, fds.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* open = fdDir >= 0 ? ::fdopendir(fdDir) : nullptr;
        if (open == nullptr) {
            if (fdDir >= 0) {
                ::close(fdDir);
            }
            continue;
        }
        while (const dirent* fd = ::readdir(open)) {
            size = ::readlinkat(fdDir, fd->d_name, link, sizeof link);
            if (size > 0 && inodes.contains(QByteArray(link, size))) {
                family = program;
                break;
            }
        }
        ::closedir(open);
        if (!family.isEmpty()) {
            break;
        }
    }
    ::closedir(proc);
    return family;
}

} // namespace winwarden
