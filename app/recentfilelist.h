#pragma once

#include <QString>
#include <QStringList>

namespace winwarden {

// The most recently used documents, newest first, kept in the application's settings.
class RecentFileList final {
public:
    static constexpr int kDefaultSize = 4;

    explicit RecentFileList(int maxSize = kDefaultSize);

    // Reads the list from the settings; entries beyond the size are dropped.
    void Load();
    // Puts the path first (once) and writes the list back at once, so a crash loses nothing.
    void Add(const QString& path);

    const QStringList& Files() const { return m_files; }
    int MaxSize() const { return m_maxSize; }

private:
    void Save() const;

    int m_maxSize;
    QStringList m_files;
};

} // namespace winwarden
