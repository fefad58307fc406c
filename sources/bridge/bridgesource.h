#pragma once

#include "platform/browserprocesses.h"
#include "survey/browsersource.h"

#include <chrono>
#include <functional>
#include <memory>

namespace winwarden {

// The browsers that run winwarden's companion extension: a local server on BridgeSocketPath()
// (platform/bridgeprotocol.h) that every browser's winwarden-host connects to. Each connection
// is one browser, and each of its tabs an HTML-document window whose handle is the connection
// and the tab id. Every tab list that differs from the browser's last one, and every browser
// that goes away, calls the change notifier.
//
// Make it on a thread that runs a Qt event loop (the user-interface thread): the server and
// its connections live there. TakePass and RequestClose may come from any other thread. When
// the socket cannot be made (no private runtime folder, another winwarden owns it) the source
// says so on standard error and yields no browsers.
//
// Each pass's notices name the browsers that the user may have taken out of sight: one whose
// bridge went away while it still runs ("Chromium 的扩展连接已断开", until that browser connects
// again or is closed), and one that runs without ever connecting ("Chromium 正在运行，但没有连上
// 浏览哨兵扩展"). A notice stays for as long as the state lasts.
struct BridgeWatch {
    // The browser families running for this user now. Empty: never look, and a bridge that
    // goes away is reported until it comes back.
    std::function<QStringList()> running = RunningBrowserFamilies;
    // How long a running browser may be without a bridge before it is reported.
    std::chrono::milliseconds grace{10000};
    // Passes look at the processes at most this often.
    std::chrono::milliseconds interval{3000};
    // A bridge that goes away is reported only if its browser still runs this long after:
    // a browser being closed takes its bridge with it a moment before its last process ends.
    std::chrono::milliseconds settle{5000};
};

std::unique_ptr<BrowserSource> MakeBridgeSource(BridgeWatch watch = {});

} // namespace winwarden
