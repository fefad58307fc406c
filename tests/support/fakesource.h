#pragma once

#include "survey/browsersource.h"

#include <QList>
#include <QStringList>
#include <mutex>
#include <vector>

namespace winwarden::test {

// A browser source whose windows the test sets, usable from the test thread while the monitor
// takes passes on another. Close requests are recorded.
class FakeBrowserSource final : public BrowserSource {
public:
    // One HTML-document window of a Chromium per title and URL, in turn; the handle is
    // {-1, "fake", title}, "title#2" for the second window with that title, and so on.
    void SetPages(const QStringList& titlesAndUrls);
    void SetWindows(std::vector<BrowserWindow> windows) { Set(m_windows, std::move(windows)); }
    // What every pass wants known.
    void SetNotices(std::vector<QString> notices) { Set(m_notices, std::move(notices)); }
    // While set, a pass reads no browser at all.
    void SetUnreadable(bool unreadable) { Set(m_unreadable, unreadable); }
    // Whether a close request closes the window (the default), or it stays.
    void SetClosesWindows(bool closes) { Set(m_closesWindows, closes); }

    BrowserPass TakePass() override;
    void RequestClose(const WindowHandle& window) override;
    void SetSiteRules(const SiteRules& rules) override;

    // Every RequestClose; and those that named a window titled `title` (or, for a window
    // already gone, whose handle's id is `title`).
    QList<WindowHandle> CloseRequests() const { return Get(m_closeRequests); }
    int CloseRequestsFor(const QString& title) const {
        return int(Get(m_closeTitles).count(title));
    }
    int Passes() const { return Get(m_passes); }
    // Every SetSiteRules, in order.
    QList<SiteRules> SiteRulesGiven() const { return Get(m_siteRules); }

private:
    template <typename T, typename V> void Set(T& member, V&& value) {
        const std::lock_guard lock(m_mutex);
        member = std::forward<V>(value);
    }
    template <typename T> T Get(const T& member) const {
        const std::lock_guard lock(m_mutex);
        return member;
    }

    mutable std::mutex m_mutex;
    std::vector<BrowserWindow> m_windows;
    std::vector<QString> m_notices;
    bool m_unreadable = false;
    bool m_closesWindows = true;
    QList<WindowHandle> m_closeRequests;
    QStringList m_closeTitles; // the title of the window each request named, when it was open
    int m_passes = 0;
    QList<SiteRules> m_siteRules;
};

} // namespace winwarden::test
