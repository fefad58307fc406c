#pragma once

#include "platform/toplevelwindows.h"
#include "survey/shellwindows.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

namespace winwarden::test {

// A shell window collection whose windows the test sets; Create can be made to fail.
class FakeShellWindows final : public ShellWindows {
public:
    // A browser window showing an HTML document.
    static Item Page(const QString& title, const QString& url);
    // A window at a position that is not a browser page.
    static Item Other(Item::Kind kind = Item::Kind::NoHtmlDocument);

    // Replaces the collection with one page per (title, url).
    void SetPages(const QList<std::pair<QString, QString>>& pages);

    bool Create() override;
    int Count() override;
    Item ItemAt(int position) override;

    QList<Item> items;       // the collection the next Create reads
    bool failCreate = false; // Create reports that the collection cannot be read
    int createCalls = 0;     // how many passes asked for the collection
    int itemCalls = 0;       // how many windows were asked for, over all passes

private:
    QList<Item> m_read; // what the last successful Create read
};

// Top-level windows known by caption; every close request is recorded and closes nothing.
class FakeTopLevelWindows final : public TopLevelWindows {
public:
    static inline const QString kEndpoint = QStringLiteral("fake");

    std::optional<WindowHandle> FindByCaption(const QString& caption) override;
    void RequestClose(const WindowHandle& window) override;

    // Close requests that named the window with this caption.
    int CloseRequestsFor(const QString& caption) const;

    QStringList captions;              // the open windows; the handle's id is the caption
    QList<WindowHandle> closeRequests; // every RequestClose, in order
    QStringList lookups;               // every caption asked for, in order
};

} // namespace winwarden::test
