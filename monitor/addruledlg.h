#pragma once

#include <QDialog>
#include <QString>

class QFormLayout;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace winwarden {

class CScheduleEdit;

// The dialog in which the user types a rule for a page not visited yet: its kind (a page title,
// a whole site, words in the title, every web page), the text (the title, the host or a pasted
// address, the words, a name for every page), for a title an optional URL, and the flag. For a
// site it shows the host it takes from the text. A match rule may hold at chosen times only
// and carry a daily allowance; OK is refused while those are no schedule for its kind. It
// stores nothing; the view checks the text and stores the rule after OK.
class CAddRuleDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CAddRuleDlg(QWidget* parent = nullptr);

    // kKindTitle, kKindSite, kKindTitleWord or kKindAllWeb.
    QString Kind() const;
    // The title, the site or the words, as typed; for every page the name, 所有网页 if none.
    QString WindowName() const;
    QString Url() const;
    QString Flag() const;
    // When a match rule holds (match/schedule.h); empty: always, and for a title.
    QString Times() const;

    void accept() override;

private:
    void OnKindOrTextChanged();

    QFormLayout* m_form = nullptr;
    QRadioButton* m_radioTitle = nullptr;
    QRadioButton* m_radioSite = nullptr;
    QRadioButton* m_radioWords = nullptr;
    QRadioButton* m_radioAllWeb = nullptr;
    QLabel* m_hostTaken = nullptr;
    QLineEdit* m_editName = nullptr;
    QLineEdit* m_editUrl = nullptr;
    QRadioButton* m_radioPass = nullptr;
    QRadioButton* m_radioBlock = nullptr;
    CScheduleEdit* m_schedule = nullptr;
};

} // namespace winwarden
