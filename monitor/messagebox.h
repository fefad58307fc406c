#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace winwarden {

// Runs a modal box with the program's Chinese button texts and returns the button the user
// chose. The box is named `objectName`, so that tests can find and answer it. When `owner`
// is destroyed while the box waits, the box goes with it and the answer is Cancel (or
// NoButton for a box without one): callers must not touch the owner before checking it.
QMessageBox::StandardButton RunMessageBox(QWidget* owner, QMessageBox::Icon icon,
                                          const QString& caption, const QString& text,
                                          QMessageBox::StandardButtons buttons,
                                          const char* objectName);

// Tells the user that a web address could not be opened, and shows the address as text that
// can be selected and copied.
void ReportUnopenedLink(QWidget* owner, const QString& address);

} // namespace winwarden
