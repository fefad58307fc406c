#include "tests/support/fakesource.h"

namespace winwarden::test {

void FakeBrowserSource::SetPages(const QStringList& titlesAndUrls) {
    std::vector<BrowserWindow> windows;
    for (qsizetype i = 0; i + 1 < titlesAndUrls.size(); i += 2)
        windows.push_back({BrowserWindow::Kind::HtmlDocument,
                           titlesAndUrls[i],
                           titlesAndUrls[i + 1],
                           {-1, QStringLiteral("fake"), titlesAndUrls[i]}});
    SetWindows(std::move(windows));
}

void FakeBrowserSource::SetWindows(std::vector<BrowserWindow> windows) {
    const std::lock_guard lock(m_mutex);
    m_windows = std::move(windows);
}

void FakeBrowserSource::SetUnreadable(bool unreadable) {
    const std::lock_guard lock(m_mutex);
    m_unreadable = unreadable;
}

BrowserPass FakeBrowserSource::TakePass() {
    const std::lock_guard lock(m_mutex);
    ++m_passes;
    BrowserPass pass;
    pass.browsersWatched = 1;
    if (!m_unreadable) {
        pass.browsersRead = 1;
        pass.windows = m_windows;
    }
    return pass;
}

void FakeBrowserSource::RequestClose(const WindowHandle& window) {
    const std::lock_guard lock(m_mutex);
    m_closeRequests.append(window);
}

QList<WindowHandle> FakeBrowserSource::CloseRequests() const {
    const std::lock_guard lock(m_mutex);
    return m_closeRequests;
}

int FakeBrowserSource::CloseRequestsFor(const QString& title) const {
    const std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_closeRequests.begin(), m_closeRequests.end(),
                                          [&](const WindowHandle& h) { return h.id == title; }));
}

int FakeBrowserSource::Passes() const {
    const std::lock_guard lock(m_mutex);
    return m_passes;
}

} // namespace winwarden::test
