#pragma once

#include <QJsonArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace winwarden::test {

// A real browser in a process group of its own that the destructor ends, with a temporary folder.
class BrowserProcess final {
public:
    ~BrowserProcess();
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    QString Url(const QString& name) const { return QStringLiteral("file://") + Path(name); }
    bool Start(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    bool Running() const { return m_process.state() != QProcess::NotRunning; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

// Chromium headless, quiet, with its profile in the browser's folder.
QStringList HeadlessChromiumFlags(const BrowserProcess& browser);

// Opens `url` in a new tab through the DevTools endpoint ("host:port"); the tab's id, or empty.
QString OpenTab(const QString& endpoint, const QString& url);

} // namespace winwarden::test

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
