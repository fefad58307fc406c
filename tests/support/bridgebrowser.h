#pragma once

#include "tests/support/chromium.h"
#include "tests/support/fakeendpoint.h"

#include <deque>
#include <mutex>

namespace winwarden::test {

extern const QString kOpenerTitle;
extern const QString kBlockedTitle;

bool WriteFile(const QString& path, const QByteArray& contents);
// The file's contents; empty when it cannot be read.
QByteArray ReadFile(const QString& path);

// pages/opener.html (kOpenerTitle) opens pages/blocked.html (kBlockedTitle) in a new tab, and
// `driver`, if given, in another.
bool WritePages(const BrowserProcess& browser, const QString& driver = {});

// The browser's HTTP proxy, so that any host name reaches it: every page is titled "页 <host>",
// and the driver page (Driver(), without a title of its own) opens in new tabs the addresses
// given to Open, one at a time.
class PageServer final {
public:
    PageServer();
    QString Proxy() const { return m_endpoint.Endpoint(); }
    static QString Driver() { return QStringLiteral("http://driver.test/"); }
    void Open(const QString& url);
    // Whether a request for this host (not its sub-domains) has reached the server.
    bool Saw(const QString& host) const;

private:
    QByteArray Answer(const QByteArray& requestLine);

    std::mutex m_mutex;
    std::deque<QString> m_toOpen;
    FakeEndpoint m_endpoint; // last: its thread answers from the members above
};

} // namespace winwarden::test
