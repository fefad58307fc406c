#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QRadioButton;

namespace winwarden {

// The dialog in which the user types a rule for a page not visited yet: the window name (the
// page title), an optional URL and the flag. It checks nothing and stores nothing; the view
// does both after OK.
class CAddRuleDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CAddRuleDlg(QWidget* parent = nullptr);

    QString WindowName() const;
    QString Url() const;
    QString Flag() const;

private:
    QLineEdit* m_editName = nullptr;
    QLineEdit* m_editUrl = nullptr;
    QRadioButton* m_radioPass = nullptr;
    QRadioButton* m_radioBlock = nullptr;
};

} // namespace winwarden
