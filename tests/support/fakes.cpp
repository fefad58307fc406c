#include "tests/support/fakes.h"

namespace winwarden::test {

void FakeShellWindows::SetPages(const QStringList& titlesAndUrls) {
    items.clear();
    for (qsizetype i = 0; i + 1 < titlesAndUrls.size(); i += 2)
        items.append(Item{Item::Kind::HtmlDocument, titlesAndUrls[i], titlesAndUrls[i + 1]});
}

std::optional<WindowHandle> FakeTopLevelWindows::FindByCaption(const QString& caption) {
    lookups.append(caption);
    if (!captions.contains(caption))
        return std::nullopt;
    return WindowHandle{QStringLiteral("fake"), caption};
}

void FakeTopLevelWindows::RequestClose(const WindowHandle& window) {
    closeRequests.append(window);
}

int FakeTopLevelWindows::CloseRequestsFor(const QString& caption) const {
    return static_cast<int>(closeRequests.count(WindowHandle{QStringLiteral("fake"), caption}));
}

} // namespace winwarden::test
