#pragma once

#include <QGroupBox>
#include <QString>
#include <array>

class QCheckBox;
class QSpinBox;
class QTimeEdit;

namespace winwarden {

// When a match rule holds and how long a day, with plain controls: a box that limits the rule
// at all, the weekdays as check boxes, up to two spans of time fields (each with a box of its
// own), and a daily allowance in minutes. Unchecked, the rule holds always. What it holds is the
// schedule's written form (match/schedule.h), checked by the same function as an import's or a
// control client's.
class CScheduleEdit final : public QGroupBox {
    Q_OBJECT
public:
    explicit CScheduleEdit(QWidget* parent = nullptr);

    // The schedule as written, empty for always; it may be no valid schedule (see Check).
    QString Times() const;
    // Shows stored times; empty text: always. Times that are no schedule show as always. Left
    // as shown, Times() gives a schedule back as it was, spans past the second one included.
    void SetTimes(const QString& times);
    // The kind of the rule the times are for: a 标题包含 rule takes no allowance, so the box is
    // offered only to be unchecked there.
    void SetKind(const QString& kind);
    // True when the controls hold a valid schedule or none for the rule's kind; otherwise tells
    // `owner`'s user why in a message box and puts the focus where the fault is.
    bool Check(QWidget* owner);

private:
    void UpdateEnabled();
    QString ControlsText() const; // what the controls say

    QString m_setTimes; // as SetTimes was given them
    QString m_setShown; // how the controls said them then

    std::array<QCheckBox*, 7> m_days{};
    std::array<QTimeEdit*, 4> m_times{}; // start, end of the first span, then of the second
    QCheckBox* m_first = nullptr;
    QCheckBox* m_second = nullptr;
    QCheckBox* m_limit = nullptr;
    QSpinBox* m_minutes = nullptr;
    QString m_kind;
};

} // namespace winwarden
