#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace winwarden::test {

// A real browser for one end-to-end test, in a process group of its own that the destructor
// ends, with a temporary folder for its profile and pages.
class BridgeBrowser final {
public:
    ~BridgeBrowser();
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    QString Url(const QString& name) const { return QStringLiteral("file://") + Path(name); }

    // Two pages: pages/opener.html (titled kOpenerTitle) opens pages/blocked.html
    // (kBlockedTitle) in a new tab.
    bool WritePages();
    bool Start(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

extern const QString kOpenerTitle;
extern const QString kBlockedTitle;

// Headless Chromium's flags for a test, with the profile in `browser`'s folder.
QStringList HeadlessChromiumFlags(const BridgeBrowser& browser);

bool WriteFile(const QString& path, const QByteArray& contents);

// With a monitor engine over the bridge source in this process: the browser's two pages are
// recorded as 通过 with their URLs; once another program blocks one, its tab is closed and the
// other stays. Fails the running test otherwise.
void RecordAndBlock(const BridgeBrowser& browser);

} // namespace winwarden::test
