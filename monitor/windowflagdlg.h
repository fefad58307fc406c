#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace winwarden {

class CScheduleEdit;

// The modal dialog in which the user changes the flag of one window rule. The caller fills
// the three strings, runs exec() and, after 1 (OK), reads m_strFlag. exec() returns 1 for
// "确定" and "打开窗口", 2 for "取消", Escape and the close box. "打开窗口" also opens m_strUrl
// in the browser when it is an http or https address. The dialog touches neither the list nor
// the rule store.
class CWindowFlagDlg final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kResultOk = 1;
    static constexpr int kResultCancel = 2;

    explicit CWindowFlagDlg(QWidget* parent = nullptr);
    ~CWindowFlagDlg() override;

    QPushButton* m_btnOpenWindow = nullptr;
    QString m_strWindowName;
    QString m_strUrl;
    QString m_strFlag;

    void accept() override;
    void reject() override;

    // For a match rule of `kind`: the dialog grows a part below in which its times and daily
    // allowance are edited, filled with `times`; OK is refused while they are no schedule for
    // that kind.
    void ShowTimes(const QString& times, const QString& kind = QString());
    // The times edited there; empty (always) when the part is not shown.
    QString Times() const;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool OnInitDialog();
    void OnRadioBlock();
    void OnRadioPass();
    void OnOpenWindow();
    void OnOK();
    void OnCancel();
    void FillFields(); // the three fields from the three strings
    void CreateControls();

    QLineEdit* m_editWindowName = nullptr;
    QLineEdit* m_editUrl = nullptr;
    QLineEdit* m_editFlag = nullptr;
    QRadioButton* m_radioPass = nullptr;
    QRadioButton* m_radioBlock = nullptr;
    QPushButton* m_btnCancel = nullptr;
    CScheduleEdit* m_schedule = nullptr;
};

} // namespace winwarden
