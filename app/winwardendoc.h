#pragma once

#include "app/commandtarget.h"

#include <QObject>
#include <QString>

class QWidget;

namespace winwarden {

// The single document. It holds no data: it carries the window title and the path of the
// file it was last opened from or saved to.
class CWinwardenDoc final : public QObject, public CommandTarget {
    Q_OBJECT
public:
    explicit CWinwardenDoc(QObject* parent = nullptr);

    // Clears the document and sets the title "浏览哨兵".
    bool OnNewDocument();
    // Opens the file for reading and reads nothing from it; false when it cannot be read.
    // The title stays.
    bool OnOpenDocument(const QString& path);
    // Writes the document, an empty file, to the path; false when it cannot be written.
    bool OnSaveDocument(const QString& path);
    // The save command: writes to the document's own file, asking for a name first when
    // there is none yet. Reports a failure to the user.
    bool DoFileSave();

    // Handles the save command.
    bool OnCmdMsg(int commandId) override;

    const QString& GetTitle() const { return m_strTitle; }
    void SetTitle(const QString& title);
    const QString& GetPathName() const { return m_strPathName; }

    // The window that owns the document's dialogs and message boxes.
    void SetDialogParent(QWidget* parent) { m_dialogParent = parent; }

Q_SIGNALS:
    void titleChanged(const QString& title);

private:
    bool MayOverwrite(const QString& path) const;

    QString m_strTitle;
    QString m_strPathName;
    QWidget* m_dialogParent = nullptr;
};

} // namespace winwarden
