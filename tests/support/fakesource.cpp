#include "tests/support/fakesource.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace winwarden::test {

void FakeBrowserSource::SetPages(const QStringList& titlesAndUrls) {
    std::vector<BrowserWindow> windows;
    for (qsizetype i = 0; i + 1 < titlesAndUrls.size(); i += 2) {
        const QString& title = titlesAndUrls[i];
        windows.push_back(BrowserWindow{BrowserWindow::Kind::HtmlDocument, title,
                                        titlesAndUrls[i + 1], WindowHandle{-1, u"fake"_s, title}});
    }
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

void FakeBrowserSource::SetClosesWindows(bool closes) {
    const std::lock_guard lock(m_mutex);
    m_closesWindows = closes;
}

BrowserPass FakeBrowserSource::TakePass() {
    const std::lock_guard lock(m_mutex);
    ++m_passes;
    BrowserPass pass;
    pass.browsersWatched = 1;
    if (m_unreadable) {
        return pass;
    }
    pass.browsersRead = 1;
    pass.windows = m_windows;
    return pass;
}

void FakeBrowserSource::RequestClose(const WindowHandle& window) {
    const std::lock_guard lock(m_mutex);
    m_closeRequests.append(window);
    const auto named = std::find_if(m_windows.cbegin(), m_windows.cend(), [&](const auto& open) {
        return open.handle.browser == window.browser && open.handle.id == window.id;
    });
    m_closeTitles.append(named != m_windows.cend() ? named->title : window.id);
    if (!m_closesWindows) {
        return;
    }
    const auto gone = std::remove_if(m_windows.begin(), m_windows.end(), [&](const auto& open) {
        return open.handle.browser == window.browser && open.handle.id == window.id;
    });
    m_windows.erase(gone, m_windows.end());
}

QList<WindowHandle> FakeBrowserSource::CloseRequests() const {
    const std::lock_guard lock(m_mutex);
    return m_closeRequests;
}

int FakeBrowserSource::CloseRequestsFor(const QString& title) const {
    const std::lock_guard lock(m_mutex);
    return static_cast<int>(m_closeTitles.count(title));
}

int FakeBrowserSource::Passes() const {
    const std::lock_guard lock(m_mutex);
    return m_passes;
}

} // namespace winwarden::test
