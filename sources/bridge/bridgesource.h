#pragma once

#include "platform/browserprocesses.h"
#include "sources/bridge/bridgelink.h"
#include "survey/browsersource.h"

#include <chrono>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

namespace winwarden {

// The browsers that run winwarden's companion extension: a local server that every browser's
// winwarden-host connects to. Each connection is one browser, and each of its tabs an
// HTML-document window whose handle is the connection and the tab id; a close request goes
// only to the connection that reported the tab. Every tab list that differs from the browser's
// last one, and every browser that goes away, calls the change notifier. After each pass (at
// most one a second) every connected host gets {"type":"alive"}.
//
// Make it on a thread that runs a Qt event loop (the user-interface thread): the server and
// its connections live there. TakePass and RequestClose may come from any other thread. When
// the socket cannot be made (no private runtime folder, another winwarden owns it) the source
// says so on standard error and yields no browsers.
//
// Each pass's notices name the browsers that the user may have taken out of sight: one whose
// bridge went away while it still runs ("Chromium 的扩展连接已断开", until that browser connects
// again or is closed), and one that runs without ever connecting ("Chromium 正在运行，但没有连上
// 浏览哨兵扩展"). A notice stays for as long as the state lasts. A client that sends what no
// host sends (a malformed frame, a message of another kind) or more new titles than a person
// could (NewTitleBudget) is cut off, and that stays among the notices for ten minutes. Each of
// these is also said once per occurrence (TamperLog).
struct BridgeWatch {
    // The browsers running now, for the users whose browsers the source watches. Empty: never
    // look, and a bridge that goes away is reported until it comes back.
    std::function<std::vector<RunningBrowser>()> running = [] {
        return RunningBrowsers(::getuid());
    };
    // How long a running browser may be without a bridge before it is reported.
    std::chrono::milliseconds grace{10000};
    // Passes look at the processes at most this often.
    std::chrono::milliseconds interval{3000};
    // A bridge that goes away is reported only if its browser still runs this long after:
    // a browser being closed takes its bridge with it a moment before its last process ends.
    std::chrono::milliseconds settle{5000};
    // Where tampering is said; empty: standard error, which is the journal under systemd.
    std::function<void(const QString&)> say = {};
    // The guard's: the hosts connected now go there, and what it reports comes among the
    // passes' notices (and is said once, as tampering is).
    std::shared_ptr<BridgeLink> link = {};
    // The guard's signature of a message (r||s), with which it answers a browser's challenge
    // at once: a forced-in extension told to fail closed counts only such an answer as the
    // guard. Empty (a user's own winwarden): challenges go unanswered.
    std::function<QByteArray(QByteArrayView)> sign = {};
};

// The user's own bridge, on BridgeSocketPath(): only this user's processes are let in.
std::unique_ptr<BrowserSource> MakeBridgeSource(BridgeWatch watch = {});

// The system guard's bridge on `path`, for every local user: the socket is open to everyone
// (its folder decides who reaches it), each connection's user is the kernel's word and goes
// with its windows (BrowserWindow::uid), and notices name the user. `watch.running` should
// see every user's browsers.
std::unique_ptr<BrowserSource> MakeSystemBridgeSource(const QString& path, BridgeWatch watch);

} // namespace winwarden
