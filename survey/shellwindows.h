#pragma once

#include "survey/browsersource.h"

#include <QHash>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace winwarden {

// The collection of open shell windows that one snapshot pass reads, position by position:
// the windows that one pass of the browser sources found.
class ShellWindows final {
public:
    explicit ShellWindows(const BrowserPass& pass) : m_pass(pass) {}
    // It reads the pass in place: a pass that would be gone after this statement is refused.
    explicit ShellWindows(BrowserPass&&) = delete;

    // False when the collection could not be read at all (no browser answered).
    bool Create() const { return m_pass.Read(); }
    int Count() const { return static_cast<int>(m_pass.windows.size()); }
    // The window at `position`, 0 <= position < Count().
    const BrowserWindow& ItemAt(int position) const {
        return m_pass.windows[static_cast<size_t>(position)];
    }

private:
    const BrowserPass& m_pass;
};

// The top-level browser windows of one pass, found by their caption: the page title followed
// by " - Microsoft Internet Explorer". Answered from the pass itself, with no second look at
// the browsers.
class TopLevelWindows final {
public:
    using CloseRequest = std::function<void(const WindowHandle&)>;

    TopLevelWindows(const BrowserPass& pass, CloseRequest close)
        : m_pass(pass), m_close(std::move(close)) {}
    TopLevelWindows(BrowserPass&&, CloseRequest) = delete;

    // The first window of the pass whose caption is exactly `caption` and that has not been
    // asked to close through this object, or nothing.
    std::optional<WindowHandle> FindByCaption(const QString& caption);
    // Asks the window to close and returns at once, without waiting for it to go. A window
    // just found is passed over by the next lookup of its caption: a close request does not
    // make a window go at once, and two tabs with one title must both be asked.
    void RequestClose(const WindowHandle& window);

private:
    const BrowserPass& m_pass;
    CloseRequest m_close;
    // Made on first use: title -> the first position not asked to close, and for each
    // position the next one with the same title (-1: none).
    std::optional<QHash<QString, int>> m_byTitle;
    std::vector<int> m_next;
    int m_found = -1; // the position the last lookup answered
};

} // namespace winwarden
