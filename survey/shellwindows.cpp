#include "survey/shellwindows.h"

#include "res/texts.h"

namespace winwarden {

std::optional<WindowHandle> TopLevelWindows::FindByCaption(const QString& caption) {
    m_found = -1;
    // Only a browser tab carries the suffix; and an untitled tab's window shows its URL,
    // never the bare suffix.
    if (!caption.endsWith(text::kCaptionSuffix) || caption.size() == text::kCaptionSuffix.size()) {
        return std::nullopt;
    }
    if (!m_byTitle) {
        const int count = static_cast<int>(m_pass.windows.size());
        m_byTitle.emplace();
        m_byTitle->reserve(count);
        m_next.assign(static_cast<size_t>(count), -1);
        // From the last window back, so that each title ends up at its first position.
        for (int i = count - 1; i >= 0; --i) {
            const BrowserWindow& window = m_pass.windows[static_cast<size_t>(i)];
            if (!IsWebPage(window)) {
                continue;
            }
            const auto first = m_byTitle->find(window.title);
            if (first == m_byTitle->end()) {
                m_byTitle->insert(window.title, i);
            } else {
                m_next[static_cast<size_t>(i)] = *first;
                *first = i;
            }
        }
    }
    const auto found = m_byTitle->constFind(caption.chopped(text::kCaptionSuffix.size()));
    if (found == m_byTitle->cend()) {
        return std::nullopt;
    }
    m_found = *found;
    return m_pass.windows[static_cast<size_t>(m_found)].handle;
}

void TopLevelWindows::RequestClose(const WindowHandle& window) {
    if (m_found >= 0) {
        const BrowserWindow& found = m_pass.windows[static_cast<size_t>(m_found)];
        if (found.handle == window) {
            const int next = m_next[static_cast<size_t>(m_found)];
            if (next >= 0) {
                m_byTitle->insert(found.title, next);
            } else {
                m_byTitle->remove(found.title);
            }
        }
        m_found = -1;
    }
    m_close(window);
}

} // namespace winwarden
