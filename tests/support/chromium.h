#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <optional>

namespace winwarden {

// A real headless Chromium (/usr/bin/chromium) for one test, with a fresh profile and its
// DevTools endpoint on a free loopback port. The destructor ends every process it started.
class HeadlessChromium final {
public:
    ~HeadlessChromium();

    // Starts the browser and waits (at most 30 s) until its endpoint answers. False, with
    // Error() saying why, when it does not come up.
    bool Start();
    QString Error() const { return m_error; }
    // "127.0.0.1:<port>", the value WINWARDEN_DEVTOOLS takes to watch this browser.
    QString Endpoint() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

    // Opens a new tab on `url`; the new target's id, or empty on failure.
    QString OpenTab(const QString& url);
    // The /json/list answer (titles still HTML-escaped), or nothing when the browser does not
    // answer; and the target with `id` in it.
    std::optional<QJsonArray> Targets();
    std::optional<QJsonObject> Target(const QString& id);

    // Waits until the target `id` reports the raw (escaped) title `rawTitle`.
    bool WaitForTitle(const QString& id, const QString& rawTitle, int timeoutMs = 10000);
    // Waits until the browser lists no target `id` any more.
    bool WaitUntilGone(const QString& id, int timeoutMs = 10000);

private:
    std::optional<QByteArray> Request(const char* method, const QByteArray& path);

    QTemporaryDir m_profile;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

// A data: URL of a UTF-8 HTML page titled exactly `title` (empty: a page with an empty title).
QString HtmlPageUrl(const QString& title);

} // namespace winwarden
