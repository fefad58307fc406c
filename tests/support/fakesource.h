#pragma once

#include "survey/browsersource.h"

#include <QList>
#include <QStringList>
#include <mutex>

namespace winwarden::test {

// A browser source whose windows the test sets. Safe to set from the test's thread while the
// monitor takes passes on its own.
class FakeBrowserSource final : public BrowserSource {
public:
    // One HTML-document window per title and URL, in turn; the handle's id is the title.
    void SetPages(const QStringList& titlesAndUrls);
    void SetWindows(std::vector<BrowserWindow> windows);
    // Passes read no browser at all.
    void SetUnreadable(bool unreadable);

    BrowserPass TakePass() override;
    void RequestClose(const WindowHandle& window) override;

    QList<WindowHandle> CloseRequests() const;
    int CloseRequestsFor(const QString& title) const;
    int Passes() const;

private:
    mutable std::mutex m_mutex;
    std::vector<BrowserWindow> m_windows;
    bool m_unreadable = false;
    QList<WindowHandle> m_closeRequests;
    int m_passes = 0;
};

} // namespace winwarden::test
