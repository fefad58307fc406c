#pragma once

#include "survey/browsersource.h"

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
std::unique_ptr<BrowserSource> MakeBridgeSource();

} // namespace winwarden
