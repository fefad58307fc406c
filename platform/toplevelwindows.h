#pragma once

#include <QString>
#include <memory>
#include <optional>

namespace winwarden {

// An opaque handle to one top-level browser window found by its caption.
struct WindowHandle {
    QString endpoint; // which watched browser holds the window ("127.0.0.1:9222")
    QString id;       // the window's id within that browser
    bool operator==(const WindowHandle&) const = default;
};

// The desktop's top-level windows, as far as the monitor needs them.
class TopLevelWindows {
public:
    virtual ~TopLevelWindows() = default;

    // The first top-level window whose caption is exactly `caption`, or nothing.
    virtual std::optional<WindowHandle> FindByCaption(const QString& caption) = 0;

    // Asks the window to close and returns at once, without waiting for it to go.
    // A window that has gone meanwhile is no failure.
    virtual void RequestClose(const WindowHandle& window) = 0;
};

// The real windows: the page targets of the watched browsers (WINWARDEN_DEVTOOLS), whose
// caption is the page title followed by " - Microsoft Internet Explorer".
std::unique_ptr<TopLevelWindows> MakeDevToolsTopLevelWindows();

} // namespace winwarden
