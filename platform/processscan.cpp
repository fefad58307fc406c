#include "platform/processscan.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

namespace winwarden {

namespace {

// A command line longer than this is read no further: the kernel allows more, no browser's
// helper puts its type that far back.
constexpr size_t kCommandLineCap = 4 << 20;

// Reads all of `path` under `dirFd` into `text` (up to `cap` bytes); false when it is gone. A
// read that returns less than was asked for is the end: /proc gives a file in one read.
bool ReadAt(int dirFd, const char* path, std::string& text, size_t cap) {
    const int fd = ::openat(dirFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    size_t used = 0;
    size_t chunk = 4096;
    if (text.size() < chunk) {
        text.resize(chunk);
    }
    while (used < cap) {
        const size_t want = std::min(chunk, cap - used);
        if (text.size() < used + want) {
            text.resize(used + want);
        }
        const ssize_t got = ::read(fd, text.data() + used, want);
        if (got <= 0) {
            break;
        }
        used += size_t(got);
        if (size_t(got) < want) {
            break;
        }
        chunk = std::min<size_t>(chunk * 4, 1 << 20);
    }
    ::close(fd);
    text.resize(used);
    return true;
}

struct StatLine {
    pid_t parent = 0;
    quint64 startTime = 0;
    std::string_view name; // the kernel's 15-character name, which the process may set
};

// "pid (name) state ppid … starttime …": the name may hold spaces and parentheses, so the
// fields are counted from the last one.
std::optional<StatLine> ParseStat(std::string_view text) {
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return std::nullopt;
    }
    StatLine stat;
    stat.name = text.substr(open + 1, close - open - 1);
    int field = 0; // 0 is the state
    size_t at = close + 1;
    while (at < text.size() && field <= 19) {
        while (at < text.size() && text[at] == ' ') {
            ++at;
        }
        const size_t end = std::min(text.find(' ', at), text.size());
        const std::string_view value = text.substr(at, end - at);
        if (field == 1 || field == 19) {
            quint64 number = 0;
            for (const char digit : value) {
                if (digit < '0' || digit > '9') {
                    return std::nullopt;
                }
                number = number * 10 + quint64(digit - '0');
            }
            if (field == 1) {
                stat.parent = pid_t(number);
            } else {
                stat.startTime = number;
            }
        }
        ++field;
        at = end;
    }
    if (field <= 19) {
        return std::nullopt;
    }
    return stat;
}

using Helper = ProcessScanner::Helper;
using Seen = ProcessScanner::Seen;

bool IsMarker(std::string_view token, Helper* kind) {
    // A crash reporter daemonises: its parent is no browser.
    if (token.starts_with("--type=") && token != "--type=crashpad-handler") {
        *kind = Helper::Chromium;
        return true;
    }
    if (token == "-contentproc" || token == "-forkserver") {
        *kind = Helper::Gecko;
        return true;
    }
    return false;
}

// What kind of helper a command line shows. Arguments are NUL-separated; a process that set
// its own title (Chromium's helpers do) has them all in the first one, separated by spaces.
Helper HelperOf(std::string_view commandLine, std::string_view kernelName) {
    if (kernelName == "WebKitWebProces") {
        return Helper::WebKit;
    }
    Helper kind = Helper::None;
    bool first = true;
    size_t at = 0;
    while (at < commandLine.size()) {
        const size_t end = std::min(commandLine.find('\0', at), commandLine.size());
        const std::string_view argument = commandLine.substr(at, end - at);
        if (first) {
            size_t word = 0;
            while (word < argument.size()) {
                const size_t space = std::min(argument.find(' ', word), argument.size());
                if (IsMarker(argument.substr(word, space - word), &kind)) {
                    return kind;
                }
                word = space + 1;
            }
            first = false;
        } else if (IsMarker(argument, &kind)) {
            return kind;
        }
        at = end + 1;
    }
    return Helper::None;
}

BrowserEngine EngineOf(Helper helper) {
    switch (helper) {
    case Helper::Gecko:
        return BrowserEngine::Gecko;
    case Helper::WebKit:
        return BrowserEngine::WebKit;
    default:
        return BrowserEngine::Chromium;
    }
}

std::optional<std::vector<uid_t>> ReadUids(int procFd, pid_t pid, std::string& text) {
    if (!ReadAt(procFd, (std::to_string(pid) + "/status").c_str(), text, 1 << 16)) {
        return std::nullopt;
    }
    const size_t line = text.find("\nUid:");
    if (line == std::string::npos) {
        return std::nullopt;
    }
    std::vector<uid_t> uids;
    const char* at = text.c_str() + line + 5;
    for (int i = 0; i < 4; ++i) {
        char* end = nullptr;
        const unsigned long uid = std::strtoul(at, &end, 10);
        if (end == at) {
            return std::nullopt;
        }
        uids.push_back(uid_t(uid));
        at = end;
    }
    return uids;
}

class Folder final {
public:
    explicit Folder(const QString& path) : m_dir(::opendir(QFile::encodeName(path).constData())) {}
    ~Folder() {
        if (m_dir != nullptr) {
            ::closedir(m_dir);
        }
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    DIR* Dir() const { return m_dir; }
    int Fd() const { return ::dirfd(m_dir); }

private:
    DIR* m_dir;
};

// Seconds since boot: as the proc folder tells where it has the file (a test's), else the
// kernel's boot-time clock, which start times count in (the guard's /proc shows processes
// only).
double Uptime(int procFd, std::string& text) {
    if (ReadAt(procFd, "uptime", text, 256) && !text.empty()) {
        return std::strtod(text.c_str(), nullptr);
    }
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

const ScannedBrowser* ProcessScan::BrowserOf(pid_t pid) const {
    // A parent loop in a torn read is cut short by the bound.
    for (int depth = 0; depth < 256 && pid > 1; ++depth) {
        const auto browser =
            std::find_if(browsers.begin(), browsers.end(),
                         [&](const ScannedBrowser& b) { return b.main.pid == pid; });
        if (browser != browsers.end()) {
            return &*browser;
        }
        const auto parent = parents.find(pid);
        if (parent == parents.end()) {
            return nullptr;
        }
        pid = parent->second;
    }
    return nullptr;
}

ProcessScanner::ProcessScanner(QString procRoot) : m_procRoot(std::move(procRoot)) {}

ProcessScan ProcessScanner::Scan() {
    ProcessScan scan;
    const Folder proc(m_procRoot);
    if (proc.Dir() == nullptr) {
        return scan;
    }
    std::unordered_map<pid_t, Seen> seen;
    std::unordered_map<pid_t, Known> known;
    std::string text;
    std::string commandLine;
    char path[64];
    const double uptime = Uptime(proc.Fd(), text);
    static const double ticks = double(::sysconf(_SC_CLK_TCK));
    while (const dirent* entry = ::readdir(proc.Dir())) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') {
            continue; // not a process
        }
        const pid_t pid = pid_t(std::atol(entry->d_name));
        // The kernel gives a reused pid a new folder, with a new inode number.
        if (const auto cached = m_known.find(pid);
            cached != m_known.end() && cached->second.inode == entry->d_ino) {
            seen[pid] = cached->second.seen;
            known.insert(*cached);
            scan.parents[pid] = cached->second.seen.parent;
            continue;
        }
        std::snprintf(path, sizeof path, "%d/stat", pid);
        if (!ReadAt(proc.Fd(), path, text, 4096)) {
            continue; // it ended
        }
        const std::optional<StatLine> stat = ParseStat(text);
        std::snprintf(path, sizeof path, "%d/cmdline", pid);
        if (!stat || !ReadAt(proc.Fd(), path, commandLine, kCommandLineCap)) {
            continue;
        }
        const Seen process{stat->parent, stat->startTime, HelperOf(commandLine, stat->name)};
        seen[pid] = process;
        scan.parents[pid] = stat->parent;
        // What a process showed when it was young may change as it starts (a fork that has not
        // exec'd its helper yet): only what it shows later is kept. Its parent changes only
        // when the parent ends, which the start times tell below.
        if (uptime - double(stat->startTime) / ticks >= kSettledSeconds) {
            known[pid] = Known{entry->d_ino, process};
        }
    }
    m_known = std::move(known);

    // Each helper's browser: the nearest ancestor that is no helper. Never the system's first
    // process, which adopts helpers whose browser has gone.
    std::unordered_map<pid_t, Helper> mains;
    for (const auto& [pid, process] : seen) {
        if (process.helper == Helper::None) {
            continue;
        }
        pid_t up = process.parent;
        quint64 below = process.startTime;
        for (int depth = 0; depth < 64; ++depth) {
            const auto parent = seen.find(up);
            if (parent == seen.end() || parent->second.helper == Helper::None ||
                parent->second.startTime > below) {
                break;
            }
            below = parent->second.startTime;
            up = parent->second.parent;
        }
        // A parent started after its child is another process that took a gone parent's pid.
        const auto main = seen.find(up);
        if (up > 1 && main != seen.end() && main->second.helper == Helper::None &&
            main->second.startTime <= below) {
            mains.try_emplace(up, process.helper);
        }
    }
    if (mains.empty()) {
        return scan;
    }

    std::unordered_map<pid_t, std::vector<pid_t>> children;
    for (const auto& [pid, process] : seen) {
        const auto parent = seen.find(process.parent);
        if (parent != seen.end() && parent->second.startTime <= process.startTime) {
            children[process.parent].push_back(pid);
        }
    }
    for (const auto& [pid, helper] : mains) {
        const std::optional<std::vector<uid_t>> uids = ReadUids(proc.Fd(), pid, text);
        std::snprintf(path, sizeof path, "%d/cmdline", pid);
        if (!uids || !ReadAt(proc.Fd(), path, commandLine, 4096)) {
            continue; // it ended
        }
        ScannedBrowser browser;
        browser.main = {pid, seen[pid].startTime};
        browser.age = std::chrono::milliseconds(
            qint64(std::max(0.0, uptime - double(browser.main.startTime) / ticks) * 1000));
        browser.uid = uids->front();
        browser.engine = EngineOf(helper);
        const std::string_view first(commandLine.c_str(),
                                     ::strnlen(commandLine.c_str(), commandLine.size()));
        const std::string_view program = first.substr(0, first.find(' '));
        browser.name = QString::fromUtf8(program.substr(program.rfind('/') + 1));
        // The kernel's word, never the command line's, which `exec -a` sets.
        std::snprintf(path, sizeof path, "%d/exe", pid);
        char link[4096];
        const ssize_t size = ::readlinkat(proc.Fd(), path, link, sizeof link);
        if (size > 0) {
            browser.executable = QString::fromUtf8(link, size);
        }
        std::vector<pid_t> pending{pid};
        while (!pending.empty() && browser.tree.size() < seen.size()) {
            const pid_t next = pending.back();
            pending.pop_back();
            browser.tree.push_back({next, seen[next].startTime});
            if (const auto below = children.find(next); below != children.end()) {
                pending.insert(pending.end(), below->second.begin(), below->second.end());
            }
        }
        scan.browsers.push_back(std::move(browser));
    }
    std::sort(scan.browsers.begin(), scan.browsers.end(),
              [](const ScannedBrowser& a, const ScannedBrowser& b) { return a.main < b.main; });
    return scan;
}

ProcessScan ScanProcesses(const QString& procRoot) {
    return ProcessScanner(procRoot).Scan();
}

std::optional<quint64> ProcessStartTime(const QString& procRoot, pid_t pid) {
    const Folder proc(procRoot);
    std::string text;
    if (proc.Dir() == nullptr ||
        !ReadAt(proc.Fd(), (std::to_string(pid) + "/stat").c_str(), text, 4096)) {
        return std::nullopt;
    }
    const std::optional<StatLine> stat = ParseStat(text);
    return stat ? std::optional(stat->startTime) : std::nullopt;
}

std::optional<std::vector<uid_t>> ProcessUids(const QString& procRoot, pid_t pid) {
    const Folder proc(procRoot);
    std::string text;
    return proc.Dir() != nullptr ? ReadUids(proc.Fd(), pid, text) : std::nullopt;
}

} // namespace winwarden
