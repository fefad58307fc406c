#include "app/recentfilelist.h"

#include <QFileInfo>
#include <QSettings>

namespace winwarden {

namespace {

const QString kSection = QStringLiteral("Recent File List");

QString EntryKey(int index) {
    return QStringLiteral("File%1").arg(index + 1);
}

} // namespace

RecentFileList::RecentFileList(int maxSize) : m_maxSize(maxSize) {}

void RecentFileList::Load() {
    QSettings settings;
    settings.beginGroup(kSection);
    m_files.clear();
    for (int i = 0; i < m_maxSize; ++i) {
        const QString path = settings.value(EntryKey(i)).toString();
        if (!path.isEmpty() && !m_files.contains(path)) {
            m_files.append(path);
        }
    }
}

void RecentFileList::Add(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    m_files.removeAll(absolute);
    m_files.prepend(absolute);
    while (m_files.size() > m_maxSize) {
        m_files.removeLast();
    }
    Save();
}

void RecentFileList::Save() const {
    QSettings settings;
    settings.remove(kSection);
    settings.beginGroup(kSection);
    for (int i = 0; i < m_files.size(); ++i) {
        settings.setValue(EntryKey(i), m_files.at(i));
    }
    settings.endGroup();
    settings.sync();
}

} // namespace winwarden
