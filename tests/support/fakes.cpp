#include "tests/support/fakes.h"

namespace winwarden::test {

ShellWindows::Item FakeShellWindows::Page(const QString& title, const QString& url) {
    return Item{Item::Kind::HtmlDocument, title, url};
}

ShellWindows::Item FakeShellWindows::Other(Item::Kind kind) {
    return Item{kind, QString(), QString()};
}

void FakeShellWindows::SetPages(const QList<std::pair<QString, QString>>& pages) {
    items.clear();
    for (const auto& [title, url] : pages)
        items.append(Page(title, url));
}

bool FakeShellWindows::Create() {
    ++createCalls;
    if (failCreate)
        return false;
    m_read = items;
    return true;
}

int FakeShellWindows::Count() {
    return static_cast<int>(m_read.size());
}

ShellWindows::Item FakeShellWindows::ItemAt(int position) {
    ++itemCalls;
    return m_read.value(position);
}

std::optional<WindowHandle> FakeTopLevelWindows::FindByCaption(const QString& caption) {
    lookups.append(caption);
    if (!captions.contains(caption))
        return std::nullopt;
    return WindowHandle{kEndpoint, caption};
}

void FakeTopLevelWindows::RequestClose(const WindowHandle& window) {
    closeRequests.append(window);
}

int FakeTopLevelWindows::CloseRequestsFor(const QString& caption) const {
    return static_cast<int>(closeRequests.count(WindowHandle{kEndpoint, caption}));
}

} // namespace winwarden::test
