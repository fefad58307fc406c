#pragma once

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
