#include "monitor/messagebox.h"

#include "res/texts.h"

#include <QAbstractButton>
#include <QPointer>

namespace winwarden {

QMessageBox::StandardButton RunMessageBox(QWidget* owner, QMessageBox::Icon icon,
                                          const QString& caption, const QString& text,
                                          QMessageBox::StandardButtons buttons,
                                          const char* objectName) {
    // On the heap and watched: an owner torn down while the box waits takes the box with it,
    // instead of leaving a dangling stack object behind.
    QPointer<QMessageBox> box = new QMessageBox(icon, caption, text, buttons, owner);
    box->setObjectName(QString::fromLatin1(objectName));
    // Texts carry page titles and addresses: shown as they are, and selectable for copying.
    box->setTextFormat(Qt::PlainText);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
        ok->setText(text::kButtonOk);
    if (QAbstractButton* cancel = box->button(QMessageBox::Cancel))
        cancel->setText(text::kButtonCancel);
    const int answer = box->exec();
    if (box.isNull())
        return buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::NoButton;
    delete box.data();
    return static_cast<QMessageBox::StandardButton>(answer);
}

void ReportUnopenedLink(QWidget* owner, const QString& address) {
    RunMessageBox(owner, QMessageBox::Warning, text::kPromptCaption,
                  text::kLinkNotOpened.arg(address), QMessageBox::Ok, "linkNotOpenedBox");
}

} // namespace winwarden
