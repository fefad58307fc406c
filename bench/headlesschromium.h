#pragma once

#include "tests/support/chromium.h"

namespace winwarden {

// A real headless Chromium with a fresh profile and DevTools on a free loopback port.
class HeadlessChromium final {
public:
    // False, with Error() saying why, when the endpoint does not answer within 30 s.
    bool Start();
    QString Error() const { return m_error; }
    QString Endpoint() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

    // The new tab's id, or empty.
    QString OpenTab(const QString& url);

private:
    test::BrowserProcess m_browser;
    quint16 m_port = 0;
    QString m_error;
};

// A data: URL of a UTF-8 HTML page titled exactly `title`.
QString HtmlPageUrl(const QString& title);

} // namespace winwarden
