#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace winwarden::test {

// A real browser in a process group of its own that the destructor ends, with a temporary folder.
class BridgeBrowser final {
public:
    ~BridgeBrowser();
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    QString Url(const QString& name) const { return QStringLiteral("file://") + Path(name); }

    // pages/opener.html (kOpenerTitle) opens pages/blocked.html (kBlockedTitle) in a new tab.
    bool WritePages();
    bool Start(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

extern const QString kOpenerTitle;
extern const QString kBlockedTitle;

QStringList HeadlessChromiumFlags(const BridgeBrowser& browser);

bool WriteFile(const QString& path, const QByteArray& contents);

// Both pages are recorded as 通过 with their URLs; blocked by another program, one closes.
void RecordAndBlock(const BridgeBrowser& browser);

} // namespace winwarden::test
