#pragma once

#include <QString>
#include <memory>

namespace winwarden {

// The collection of open shell windows that one snapshot pass reads, position by position.
class ShellWindows {
public:
    struct Item {
        enum class Kind {
            Missing,        // no window at this position, or asking for it failed
            NotBrowser,     // a window that is not a browser
            NoHtmlDocument, // a browser that shows no HTML document
            HtmlDocument,   // a browser showing an HTML document: title and url are set
        };
        Kind kind = Kind::Missing;
        QString title;
        QString url;
    };

    virtual ~ShellWindows() = default;

    // Reads the collection afresh. False when it cannot be read at all.
    virtual bool Create() = 0;
    // Number of windows in the collection read by the last successful Create.
    virtual int Count() = 0;
    // The window at `position`, 0 <= position < Count().
    virtual Item ItemAt(int position) = 0;
};

// The watched browsers' targets (WINWARDEN_DEVTOOLS): pages are HTML documents, every other
// target type is a window without one.
std::unique_ptr<ShellWindows> MakeDevToolsShellWindows();

} // namespace winwarden
