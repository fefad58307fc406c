#include "monitor/scheduleedit.h"

#include "match/schedule.h"
#include "monitor/messagebox.h"
#include "res/texts.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimeEdit>

namespace winwarden {

namespace {

using namespace Qt::StringLiterals;

constexpr const char16_t* kDayNames[] = {u"一", u"二", u"三", u"四", u"五", u"六", u"日"};

QString Clock(const QTime& time) {
    return time.toString(u"HH:mm"_s);
}

} // namespace

CScheduleEdit::CScheduleEdit(QWidget* parent) : QGroupBox(u"只在这些时间生效"_s, parent) {
    setObjectName(u"schedule"_s);
    setCheckable(true);
    setChecked(false);
    setAccessibleName(u"只在这些时间生效"_s);
    auto* grid = new QGridLayout(this);
    auto* days = new QHBoxLayout;
    for (int day = 0; day < 7; ++day) {
        const QString name = QString::fromUtf16(kDayNames[day]);
        auto* box = new QCheckBox(u"周"_s + name, this);
        box->setObjectName(u"day%1"_s.arg(day + 1));
        box->setAccessibleName(u"星期"_s + name);
        days->addWidget(box);
        m_days[static_cast<size_t>(day)] = box;
    }
    days->addStretch();
    grid->addWidget(new QLabel(u"星期："_s, this), 0, 0);
    grid->addLayout(days, 0, 1, 1, 4);
    const char* names[] = {"from1", "to1", "from2", "to2"};
    const QString accessible[] = {u"第一段开始"_s, u"第一段结束"_s, u"第二段开始"_s,
                                  u"第二段结束"_s};
    for (size_t i = 0; i < m_times.size(); ++i) {
        auto* edit = new QTimeEdit(this);
        edit->setDisplayFormat(u"HH:mm"_s);
        edit->setObjectName(QString::fromLatin1(names[i]));
        edit->setAccessibleName(accessible[i]);
        m_times[i] = edit;
    }
    m_times[0]->setTime(QTime(21, 0));
    m_times[1]->setTime(QTime(7, 0));
    m_times[2]->setTime(QTime(12, 0));
    m_times[3]->setTime(QTime(13, 0));
    m_second = new QCheckBox(u"第二段："_s, this);
    m_second->setObjectName(u"second"_s);
    m_second->setAccessibleName(u"第二段时间"_s);
    auto* first = new QLabel(u"时间："_s, this);
    first->setBuddy(m_times[0]);
    grid->addWidget(first, 1, 0);
    grid->addWidget(m_times[0], 1, 1);
    grid->addWidget(new QLabel(u"至"_s, this), 1, 2);
    grid->addWidget(m_times[1], 1, 3);
    grid->addWidget(m_second, 2, 0);
    grid->addWidget(m_times[2], 2, 1);
    grid->addWidget(new QLabel(u"至"_s, this), 2, 2);
    grid->addWidget(m_times[3], 2, 3);
    auto* hint = new QLabel(u"结束早于开始即跨过午夜，如 21:00 至 07:00 到次日早上。"_s, this);
    hint->setWordWrap(true);
    grid->addWidget(hint, 3, 0, 1, 5);
    grid->setColumnStretch(4, 1);
    connect(m_second, &QCheckBox::toggled, this, &CScheduleEdit::UpdateEnabled);
    connect(this, &QGroupBox::toggled, this, &CScheduleEdit::UpdateEnabled);
    UpdateEnabled();
}

void CScheduleEdit::UpdateEnabled() {
    m_times[2]->setEnabled(isChecked() && m_second->isChecked());
    m_times[3]->setEnabled(isChecked() && m_second->isChecked());
}

QString CScheduleEdit::Times() const {
    if (!isChecked()) {
        return {};
    }
    QString text = u"周"_s;
    for (int day = 0; day < 7; ++day) {
        if (m_days[static_cast<size_t>(day)]->isChecked()) {
            text += QString::fromUtf16(kDayNames[day]);
        }
    }
    const int spans = m_second->isChecked() ? 2 : 1;
    for (int span = 0; span < spans; ++span) {
        const auto at = static_cast<size_t>(2 * span);
        text += u' ' + Clock(m_times[at]->time()) + u'-' + Clock(m_times[at + 1]->time());
    }
    return text;
}

void CScheduleEdit::SetTimes(const QString& times) {
    const std::optional<Schedule> schedule =
        times.trimmed().isEmpty() ? std::nullopt : ParseSchedule(times, nullptr);
    setChecked(schedule.has_value());
    for (int day = 0; day < 7; ++day) {
        m_days[static_cast<size_t>(day)]->setChecked(schedule && (schedule->days & (1u << day)));
    }
    m_second->setChecked(schedule && schedule->spans.size() > 1);
    if (schedule) {
        for (size_t span = 0; span < std::min<size_t>(2, schedule->spans.size()); ++span) {
            const Schedule::Span& s = schedule->spans[span];
            m_times[2 * span]->setTime(QTime(s.start / 60, s.start % 60));
            // 24:00 is midnight, the same as 00:00 at the end of a span.
            m_times[2 * span + 1]->setTime(QTime(s.end / 60 % 24, s.end % 60));
        }
    }
    UpdateEnabled();
}

bool CScheduleEdit::Check(QWidget* owner) {
    QString why;
    if (ValidScheduleText(Times(), &why)) {
        return true;
    }
    RunMessageBox(owner, QMessageBox::Information, text::kPromptCaption, u"时间设置无效："_s + why,
                  QMessageBox::Ok, "badTimesBox");
    const bool noDay =
        std::none_of(m_days.begin(), m_days.end(), [](QCheckBox* box) { return box->isChecked(); });
    (noDay ? static_cast<QWidget*>(m_days[0]) : m_times[0])->setFocus(Qt::OtherFocusReason);
    return false;
}

} // namespace winwarden
