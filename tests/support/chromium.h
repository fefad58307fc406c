#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>

namespace winwarden {

// A real headless Chromium (/usr/bin/chromium) for one test, with a fresh profile and its
// DevTools endpoint on a free loopback port. The destructor ends the whole browser (every
// process it started) and removes the profile.
//
//     HeadlessChromium chromium;
//     QVERIFY2(chromium.Start(), qPrintable(chromium.Error()));
//     const QString id = chromium.OpenTab(HtmlPageUrl(u"O'Brien"_s));
//     QVERIFY(chromium.WaitForTitle(id, u"O&#39;Brien"_s));
class HeadlessChromium final {
public:
    HeadlessChromium() = default;
    ~HeadlessChromium();
    HeadlessChromium(const HeadlessChromium&) = delete;
    HeadlessChromium& operator=(const HeadlessChromium&) = delete;

    // Starts the browser showing about:blank and waits (at most 30 s) until its endpoint
    // answers. False, with Error() saying why, when the browser is missing or does not come up.
    bool Start();
    QString Error() const { return m_error; }

    // "127.0.0.1:<port>", the value WINWARDEN_DEVTOOLS takes to watch this browser.
    QString Endpoint() const;
    // The DevToolsActivePort file the browser wrote into its profile.
    QString ActivePortFile() const;

    // Opens a new tab on `url` (PUT /json/new). The new target's id, or empty on failure.
    QString OpenTab(const QString& url);
    // The browser's /json/list answer as it stands (titles still HTML-escaped); empty when the
    // endpoint does not answer.
    QJsonArray Targets();
    // The target with `id` in Targets(), or nothing.
    std::optional<QJsonObject> Target(const QString& id);

    // Polls (every 20 ms, at most `timeoutMs`) until `done` holds; true when it did.
    static bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000);
    // Waits until the target `id` reports the raw /json/list title `rawTitle`.
    bool WaitForTitle(const QString& id, const QString& rawTitle, int timeoutMs = 10000);
    // Waits until no target with `id` is listed any more.
    bool WaitUntilGone(const QString& id, int timeoutMs = 10000);

private:
    std::optional<QByteArray> Request(const QByteArray& method, const QByteArray& target);
    std::optional<QJsonArray> ListedTargets();
    void Stop();

    std::unique_ptr<QTemporaryDir> m_profile;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
};

// A data: URL of a UTF-8 HTML page whose title is exactly `title` (as the page shows it: HTML
// collapses runs of white space in titles). An empty `title` gives a page with an empty title.
QString HtmlPageUrl(const QString& title);

} // namespace winwarden
