#pragma once

#include "platform/toplevelwindows.h"
#include "survey/shellwindows.h"

#include <QStringList>

namespace winwarden::test {

// A shell window collection whose windows the test sets; Create can be made to fail.
class FakeShellWindows final : public ShellWindows {
public:
    // Replaces the collection with one browser page per title and URL, in turn.
    void SetPages(const QStringList& titlesAndUrls);

    bool Create() override { return !failCreate; }
    int Count() override { return static_cast<int>(items.size()); }
    Item ItemAt(int position) override { return items.value(position); }

    QList<Item> items;       // the collection the next Create reads
    bool failCreate = false; // Create reports that the collection cannot be read
};

// Top-level windows known by caption; every close request is recorded and closes nothing.
class FakeTopLevelWindows final : public TopLevelWindows {
public:
    std::optional<WindowHandle> FindByCaption(const QString& caption) override;
    void RequestClose(const WindowHandle& window) override;
    // Close requests that named the window with this caption.
    int CloseRequestsFor(const QString& caption) const;

    QStringList captions;              // the open windows; the handle's id is the caption
    QList<WindowHandle> closeRequests; // every RequestClose, in order
    QStringList lookups;               // every caption asked for, in order
};

} // namespace winwarden::test
