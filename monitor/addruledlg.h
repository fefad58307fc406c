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
// a whole site, words in the title), the text (the title, the host or a pasted address, the
// words), for a title an optional URL, and the flag. For a site it shows the host it takes
// from the text. A site or words may hold at chosen times only; OK is refused while those
// are no schedule. It stores nothing; the view checks the text and stores the rule after OK.
class CAddRuleDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CAddRuleDlg(QWidget* parent = nullptr);

    // kKindTitle, kKindSite or kKindTitleWord.
    QString Kind() const;
    // The title, the site or the words, as typed.
    QString WindowName() const;
    QString Url() const;
    QString Flag() const;
    // When a site or words rule holds (match/schedule.h); empty: always, and for a title.
    QString Times() const;

    void accept() override;

private:
    void OnKindOrTextChanged();

    QFormLayout* m_form = nullptr;
    QRadioButton* m_radioTitle = nullptr;
    QRadioButton* m_radioSite = nullptr;
    QRadioButton* m_radioWords = nullptr;
    QLabel* m_hostTaken = nullptr;
    QLineEdit* m_editName = nullptr;
    QLineEdit* m_editUrl = nullptr;
    QRadioButton* m_radioPass = nullptr;
    QRadioButton* m_radioBlock = nullptr;
    CScheduleEdit* m_schedule = nullptr;
};

} // namespace winwarden
