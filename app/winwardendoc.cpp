#include "app/winwardendoc.h"

#include "monitor/messagebox.h"
#include "res/commandids.h"
#include "res/strings.h"
#include "res/texts.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>

namespace winwarden {

CWinwardenDoc::CWinwardenDoc(QObject* parent) : QObject(parent), m_strTitle(text::kDocTitle) {}

bool CWinwardenDoc::OnNewDocument() {
    m_strPathName.clear();
    SetTitle(text::kDocTitle);
    return true;
}

bool CWinwardenDoc::OnOpenDocument(const QString& path) {
    QFile file(path);
    if (path.isEmpty() || QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    // The document's contents are empty by definition: nothing to read.
    m_strPathName = QFileInfo(path).absoluteFilePath();
    return true;
}

bool CWinwardenDoc::OnSaveDocument(const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    if (!file.commit()) {
        return false;
    }
    m_strPathName = QFileInfo(path).absoluteFilePath();
    return true;
}

// The document writes an empty file. A file opened from elsewhere that has content of its
// own is not one of ours: overwriting it would destroy that content without a word, so
// such a file gets a save dialog like a document that was never saved.
bool CWinwardenDoc::MayOverwrite(const QString& path) const {
    const QFileInfo info(path);
    return !info.exists() || info.size() == 0;
}

bool CWinwardenDoc::DoFileSave() {
    QString path = m_strPathName;
    if (path.isEmpty() || !MayOverwrite(path)) {
        path = QFileDialog::getSaveFileName(m_dialogParent, QString(), m_strPathName);
        if (path.isEmpty()) {
            return false;
        }
    }
    if (!OnSaveDocument(path)) {
        RunMessageBox(m_dialogParent, QMessageBox::Warning, QCoreApplication::applicationName(),
                      res::kFailedToSaveDoc + u'\n' + path, QMessageBox::Ok, "saveFailedBox");
        return false;
    }
    return true;
}

bool CWinwardenDoc::OnCmdMsg(int commandId) {
    if (commandId == cmd::kFileSave) {
        DoFileSave();
        return true;
    }
    return false;
}

void CWinwardenDoc::SetTitle(const QString& title) {
    m_strTitle = title;
    Q_EMIT titleChanged(m_strTitle);
}

} // namespace winwarden
