#pragma once

#include <QString>
#include <chrono>
#include <optional>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace winwarden {

// The kernel's name for one process: its pid and its start time (clock ticks after boot, from
// /proc/<pid>/stat). A pid is reused; the pair is not.
struct ProcessIdentity {
    pid_t pid = 0;
    quint64 startTime = 0;
    bool operator==(const ProcessIdentity&) const = default;
    auto operator<=>(const ProcessIdentity&) const = default;
};

// What a browser is built on, known by the helper processes it starts.
enum class BrowserEngine {
    Chromium, // helpers with "--type=…" (Chrome, Edge, Brave, QtWebEngine, Electron, …)
    Gecko,    // "-contentproc" children (Firefox, Tor Browser, LibreWolf, …)
    WebKit,   // WebKitWebProcess children (GNOME Web, …)
};

// One running browser: its main process (the nearest ancestor of its helpers that is no
// helper itself) and every process below it.
struct ScannedBrowser {
    ProcessIdentity main;
    uid_t uid = 0; // the main process's real user
    BrowserEngine engine = BrowserEngine::Chromium;
    // The real executable (the exe link), empty where it is closed to the reader; an upgraded
    // or removed file keeps the kernel's " (deleted)".
    QString executable;
    // The program's name as its command line gives it, for messages only.
    QString name;
    // The main process first, then every descendant.
    std::vector<ProcessIdentity> tree;
    // How long the main process has run (nothing where the proc folder does not tell).
    std::chrono::milliseconds age{0};
};

// One look at every process under a proc folder.
struct ProcessScan {
    std::vector<ScannedBrowser> browsers;
    std::unordered_map<pid_t, pid_t> parents; // every process seen, to its parent

    // The browser whose tree holds `pid` most closely (a host started by a browser started from
    // another's terminal belongs to the inner one); nothing when it is in none.
    const ScannedBrowser* BrowserOf(pid_t pid) const;
};

// Finds the running browsers under a proc folder, scan after scan. What a process showed once
// it had run for kSettledSeconds is kept for as long as its folder is the same (a pid that is
// reused gets a new one), so that a scan reads only the processes that are new: the guard scans
// every cycle, all day.
class ProcessScanner final {
public:
    static constexpr double kSettledSeconds = 5;

    explicit ProcessScanner(QString procRoot = QStringLiteral("/proc"));
    ProcessScan Scan();

    // What the scanner keeps of a process.
    enum class Helper { None, Chromium, Gecko, WebKit };
    struct Seen {
        pid_t parent = 0;
        quint64 startTime = 0;
        Helper helper = Helper::None;
    };

private:
    struct Known {
        ino_t inode = 0;
        Seen seen;
    };
    QString m_procRoot;
    std::unordered_map<pid_t, Known> m_known;
};

// One scan with nothing known before: finds the running browsers under `procRoot` by what their
// processes do, not by their file names: a renamed or copied browser is found as well. Reads each
// process's stat and command line (both open to anyone), and the status and exe link of the
// browsers' main processes only; a process that ends mid-read is skipped, a command line of any
// size or without NULs is read safely.
ProcessScan ScanProcesses(const QString& procRoot = QStringLiteral("/proc"));

// The start time of `pid` under `procRoot`, nothing when it is gone.
std::optional<quint64> ProcessStartTime(const QString& procRoot, pid_t pid);

// The user ids (real, effective, saved, filesystem) of `pid`, from its status; nothing when
// it is gone.
std::optional<std::vector<uid_t>> ProcessUids(const QString& procRoot, pid_t pid);

} // namespace winwarden
