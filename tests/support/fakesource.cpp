#include "tests/support/fakesource.h"

#include <QHash>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace winwarden::test {

void FakeBrowserSource::SetPages(const QStringList& titlesAndUrls) {
    std::vector<BrowserWindow> windows;
    QHash<QString, int> seen;
    for (qsizetype i = 0; i + 1 < titlesAndUrls.size(); i += 2) {
        const QString& title = titlesAndUrls[i];
        const int before = seen[title]++;
        const QString id = before == 0 ? title : title + u'#' + QString::number(before + 1);
        windows.push_back({BrowserWindow::Kind::HtmlDocument,
                           title,
                           titlesAndUrls[i + 1],
                           {-1, u"fake"_s, id},
                           u"chromium"_s});
    }
    SetWindows(std::move(windows));
}

BrowserPass FakeBrowserSource::TakePass() {
    const std::lock_guard lock(m_mutex);
    ++m_passes;
    BrowserPass pass;
    pass.browsersWatched = 1;
    pass.browsersRead = m_unreadable ? 0 : 1;
    pass.notices = m_notices;
    if (!m_unreadable)
        pass.windows = m_windows;
    return pass;
}

void FakeBrowserSource::RequestClose(const WindowHandle& window) {
    const std::lock_guard lock(m_mutex);
    const auto named = [&](const auto& open) {
        return open.handle.browser == window.browser && open.handle.id == window.id;
    };
    const auto open = std::find_if(m_windows.begin(), m_windows.end(), named);
    m_closeRequests.append(window);
    m_closeTitles.append(open != m_windows.end() ? open->title : window.id);
    if (m_closesWindows)
        std::erase_if(m_windows, named);
}

void FakeBrowserSource::SetSiteRules(const SiteRules& rules) {
    const std::lock_guard lock(m_mutex);
    m_siteRules.append(rules);
}

} // namespace winwarden::test
