#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace winwarden {

// An opaque handle to one browser window, as the source that yielded it understands it. The
// monitor never looks inside; it only gives it back to RequestClose.
struct WindowHandle {
    int source = -1; // which source of a union yielded it; set by the union
    QString browser; // which browser of that source ("127.0.0.1:9222", a bridge connection)
    QString id;      // the window's id within that browser
    bool operator==(const WindowHandle&) const = default;
};

// One window of a pass.
struct BrowserWindow {
    enum class Kind {
        NotBrowser,     // a window that is not a browser
        NoHtmlDocument, // a browser window that shows no HTML document (worker, frame, ...)
        HtmlDocument,   // a browser window showing an HTML document: title and url are set
    };
    Kind kind = Kind::NotBrowser;
    QString title; // the page's own title; empty when the page has none
    QString url;
    WindowHandle handle;
    QString family; // the browser's family ("chromium", "firefox", ...); empty when not known
    // The user whose browser shows it, where the source knows (a system guard's bridge knows
    // each connection's user from the kernel); -1 where it does not.
    qint64 uid = -1;
    // Whether it is the active tab of a window that has the focus, where the source can say.
    std::optional<bool> inFront = std::nullopt;
};

// A window the monitor deals with: a titled HTML document that is no page of the browser's own.
bool IsWebPage(const BrowserWindow& window);

// What one pass over a source found.
struct BrowserPass {
    std::vector<BrowserWindow> windows; // every watched browser's windows, in a stable order
    int browsersWatched = 0;            // browsers the source tried to read
    int browsersRead = 0;               // of those, the ones that answered
    std::vector<QString> notices;       // what the user should know of (a browser gone quiet)
    // False when no browser could be read at all: the collection could not be created.
    bool Read() const { return browsersRead > 0; }
};

// The 网站 rules in force, for sources whose browsers can refuse a page before it loads. Host
// names are canonical: IDNA (punycode) ASCII, lower case, no trailing dot. A rule covers the
// host and every sub-domain; of several that cover one host the longest decides.
// `blockAll`: a 全部网页 rule holds and blocks, so every web page is refused but those of the
// hosts in `allow`. `reasons`: why a host is refused now when there is more to say than that
// it is (an allowance used up: "今天的 60 分钟已用完，明天 00:00 再开放"), by canonical host,
// "" for a 全部网页 rule; the block page shows it.
struct SiteRules {
    QStringList block; // 网站 rules that say 禁止
    QStringList allow; // 网站 rules that say 通过
    bool blockAll = false;
    QHash<QString, QString> reasons = {};
    // What holds for one user on top of the above: a daily allowance is each person's own, so
    // a used-up one refuses its site to that person alone.
    struct User {
        QStringList block;
        bool blockAll = false;
        QHash<QString, QString> reasons = {};
        bool operator==(const User&) const = default;
    };
    QHash<qint64, User> users = {}; // by uid
    bool operator==(const SiteRules&) const = default;
};

// A source of browser windows: the DevTools endpoints, the companion extension's bridge, or a
// fake in tests. The monitor calls TakePass and RequestClose off the user-interface thread,
// one call at a time; a source whose browsers talk to it on another thread guards what the
// two share.
class BrowserSource {
public:
    virtual ~BrowserSource() = default;

    // `notify` is called, on any thread, whenever the source learns that a window changed, so
    // that the monitor can take a pass before its next tick. Sources that only poll never
    // call it.
    virtual void SetChangeNotifier(std::function<void()> notify) { (void)notify; }

    // One pass: the windows of every browser this source watches, in a stable order. May
    // wait on the browsers (each wait bounded); never throws.
    virtual BrowserPass TakePass() = 0;

    // Asks the window to close and returns without waiting for it to go. A window that has
    // gone meanwhile is no failure.
    virtual void RequestClose(const WindowHandle& window) = 0;

    // The 网站 rules now in force, given whenever they change (and once after the rules are
    // first read), from the same thread as TakePass. A source that cannot block ahead ignores
    // them: its pages are closed by the cycle.
    virtual void SetSiteRules(const SiteRules& rules) { (void)rules; }

    // A notice for one user's browsers ("还有 5 分钟：youtube.com 今天的时间快用完了"), shown
    // by those that can (the extension's notification); -1: the only user a source serves.
    // From the same thread as TakePass.
    virtual void Notify(qint64 uid, const QString& text) {
        (void)uid;
        (void)text;
    }
};

// The union of several sources: their passes one after the other, in the order given, each
// window's handle marked with its source so that a close request reaches the right one.
std::unique_ptr<BrowserSource>
MakeBrowserSourceUnion(std::vector<std::unique_ptr<BrowserSource>> sources);

} // namespace winwarden
