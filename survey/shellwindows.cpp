#include "survey/shellwindows.h"

#include "res/texts.h"

namespace winwarden {

std::optional<WindowHandle> TopLevelWindows::FindByCaption(const QString& caption) {
    // Only a browser tab carries the suffix; and an untitled tab's window shows its URL,
    // never the bare suffix.
    if (!caption.endsWith(text::kCaptionSuffix) || caption.size() == text::kCaptionSuffix.size()) {
        return std::nullopt;
    }
    if (!m_byTitle) {
        m_byTitle.emplace();
        m_byTitle->reserve(static_cast<qsizetype>(m_pass.windows.size()));
        for (int i = 0; i < static_cast<int>(m_pass.windows.size()); ++i) {
            const BrowserWindow& window = m_pass.windows[static_cast<size_t>(i)];
            if (window.kind == BrowserWindow::Kind::HtmlDocument && !window.title.isEmpty() &&
                !m_byTitle->contains(window.title)) {
                m_byTitle->insert(window.title, i);
            }
        }
    }
    const auto found = m_byTitle->constFind(caption.chopped(text::kCaptionSuffix.size()));
    if (found == m_byTitle->cend()) {
        return std::nullopt;
    }
    return m_pass.windows[static_cast<size_t>(*found)].handle;
}

} // namespace winwarden
