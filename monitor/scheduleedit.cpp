#include "monitor/scheduleedit.h"

#include "match/schedule.h"
#include "monitor/messagebox.h"
#include "res/texts.h"
#include "store/flag.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QTimeEdit>
#include <utility>

namespace winwarden {

namespace {

using namespace Qt::StringLiterals;

constexpr const char16_t* kDayNames[] = {u"一", u"二", u"三", u"四", u"五", u"六", u"日"};

QString Clock(const QTime& time) {
    return time.toString(u"HH:mm"_s);
}

} // namespace

CScheduleEdit::CScheduleEdit(QWidget* parent) : QGroupBox(text::kScheduleCaption, parent) {
    setObjectName(u"schedule"_s);
    setCheckable(true);
    setChecked(false);
    setAccessibleName(text::kScheduleCaption);
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
    // Created in the order Tab takes them: each span's box before its times.
    const auto spanBox = [this](const QString& text, const char* name, const QString& accessible) {
        auto* box = new QCheckBox(text, this);
        box->setObjectName(QString::fromLatin1(name));
        box->setAccessibleName(accessible);
        return box;
    };
    const char* names[] = {"from1", "to1", "from2", "to2"};
    const QString accessible[] = {u"第一段开始"_s, u"第一段结束"_s, u"第二段开始"_s,
                                  u"第二段结束"_s};
    for (size_t i = 0; i < m_times.size(); ++i) {
        if (i == 0) {
            m_first = spanBox(u"时间段："_s, "first", u"第一段时间"_s);
        } else if (i == 2) {
            m_second = spanBox(u"第二段："_s, "second", u"第二段时间"_s);
        }
        auto* edit = new QTimeEdit(this);
        edit->setDisplayFormat(u"HH:mm"_s);
        edit->setObjectName(QString::fromLatin1(names[i]));
        edit->setAccessibleName(accessible[i]);
        m_times[i] = edit;
    }
    m_first->setChecked(true);
    m_times[0]->setTime(QTime(21, 0));
    m_times[1]->setTime(QTime(7, 0));
    m_times[2]->setTime(QTime(12, 0));
    m_times[3]->setTime(QTime(13, 0));
    grid->addWidget(m_first, 1, 0);
    grid->addWidget(m_times[0], 1, 1);
    grid->addWidget(new QLabel(u"至"_s, this), 1, 2);
    grid->addWidget(m_times[1], 1, 3);
    grid->addWidget(m_second, 2, 0);
    grid->addWidget(m_times[2], 2, 1);
    grid->addWidget(new QLabel(u"至"_s, this), 2, 2);
    grid->addWidget(m_times[3], 2, 3);
    m_limit = spanBox(text::kAllowanceBox, "limit", text::kAllowanceBox);
    // Wider than the allowance may be, so that a number typed past it is refused with the
    // reason rather than silently cut to the nearest one.
    m_minutes = new QSpinBox(this);
    m_minutes->setObjectName(u"minutes"_s);
    m_minutes->setAccessibleName(text::kAllowanceMinutesName);
    m_minutes->setRange(0, 9999);
    m_minutes->setValue(60);
    auto* unit = new QLabel(u"分钟"_s, this);
    unit->setBuddy(m_minutes);
    grid->addWidget(m_limit, 3, 0);
    grid->addWidget(m_minutes, 3, 1);
    grid->addWidget(unit, 3, 2, 1, 2);
    auto* hint = new QLabel(text::kScheduleHint, this);
    hint->setObjectName(u"scheduleHint"_s);
    hint->setWordWrap(true);
    grid->addWidget(hint, 4, 0, 1, 5);
    grid->setColumnStretch(4, 1);
    for (QCheckBox* box : {m_first, m_second, m_limit}) {
        connect(box, &QCheckBox::toggled, this, &CScheduleEdit::UpdateEnabled);
    }
    connect(this, &QGroupBox::toggled, this, &CScheduleEdit::UpdateEnabled);
    UpdateEnabled();
}

void CScheduleEdit::UpdateEnabled() {
    const bool on = isChecked();
    m_times[0]->setEnabled(on && m_first->isChecked());
    m_times[1]->setEnabled(on && m_first->isChecked());
    m_times[2]->setEnabled(on && m_second->isChecked());
    m_times[3]->setEnabled(on && m_second->isChecked());
    m_minutes->setEnabled(on && m_limit->isChecked());
    const bool words = m_kind == kKindTitleWord;
    m_limit->setEnabled(on && (!words || m_limit->isChecked()));
    m_limit->setToolTip(words ? text::kAllowanceOnWords : QString());
}

void CScheduleEdit::SetKind(const QString& kind) {
    m_kind = kind;
    UpdateEnabled();
}

QString CScheduleEdit::Times() const {
    const QString text = ControlsText();
    return !m_setShown.isEmpty() && text == m_setShown ? m_setTimes : text;
}

QString CScheduleEdit::ControlsText() const {
    if (!isChecked()) {
        return {};
    }
    QString text = u"周"_s;
    for (int day = 0; day < 7; ++day) {
        if (m_days[static_cast<size_t>(day)]->isChecked()) {
            text += QString::fromUtf16(kDayNames[day]);
        }
    }
    for (const auto& [box, at] : {std::pair{m_first, size_t(0)}, std::pair{m_second, size_t(2)}}) {
        if (box->isChecked()) {
            text += u' ' + Clock(m_times[at]->time()) + u'-' + Clock(m_times[at + 1]->time());
        }
    }
    if (m_limit->isChecked()) {
        text += u" %1 分钟"_s.arg(m_minutes->value());
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
    // An allowance alone names no span; without times the first span is offered, as usual.
    m_first->setChecked(!schedule || !schedule->spans.empty());
    m_second->setChecked(schedule && schedule->spans.size() > 1);
    m_limit->setChecked(schedule && schedule->allowance > 0);
    m_minutes->setValue(schedule && schedule->allowance > 0 ? schedule->allowance : 60);
    if (schedule) {
        for (size_t span = 0; span < std::min<size_t>(2, schedule->spans.size()); ++span) {
            const Schedule::Span& s = schedule->spans[span];
            m_times[2 * span]->setTime(QTime(s.start / 60, s.start % 60));
            // 24:00 is midnight, the same as 00:00 at the end of a span.
            m_times[2 * span + 1]->setTime(QTime(s.end / 60 % 24, s.end % 60));
        }
    }
    UpdateEnabled();
    m_setTimes = times;
    m_setShown = schedule ? ControlsText() : QString(); // times that are none are not kept
}

bool CScheduleEdit::Check(QWidget* owner) {
    QString why;
    if (ValidRuleTimes(m_kind, Times(), &why)) {
        return true;
    }
    RunMessageBox(owner, QMessageBox::Information, text::kPromptCaption, u"时间设置无效："_s + why,
                  QMessageBox::Ok, "badTimesBox");
    const bool noDay =
        std::none_of(m_days.begin(), m_days.end(), [](QCheckBox* box) { return box->isChecked(); });
    const bool badMinutes =
        m_limit->isChecked() &&
        (m_kind == kKindTitleWord || m_minutes->value() < 1 || m_minutes->value() > kMinutesPerDay);
    QWidget* fault = noDay                  ? static_cast<QWidget*>(m_days[0])
                     : badMinutes           ? static_cast<QWidget*>(m_minutes)
                     : m_first->isChecked() ? static_cast<QWidget*>(m_times[0])
                                            : static_cast<QWidget*>(m_first);
    fault->setFocus(Qt::OtherFocusReason);
    return false;
}

} // namespace winwarden
