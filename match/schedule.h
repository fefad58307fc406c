#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>
#include <optional>
#include <vector>

namespace winwarden {

// When a match rule holds: on some weekdays, within one or more spans of the day. A span whose
// end lies before its start runs over midnight, and the weekday names the day it starts on:
// 周一至周五 21:00-07:00 holds from Monday 21:00 to Tuesday 07:00, ..., from Friday 21:00 to
// Saturday 07:00, and not on Monday between 00:00 and 07:00. Times are local wall time, so on
// the day daylight saving time begins a span inside the skipped hour never holds, and on the
// day it ends a span inside the repeated hour holds twice.
// A schedule may carry a daily allowance: how many minutes a day each person may spend on the
// rule's pages. A rule with one holds, on its days and within its spans if it names any (a
// schedule with an allowance and no span holds all day), and while it holds it lets pages
// through until the person's time today reaches the allowance, then blocks them.
struct Schedule {
    struct Span {
        int start = 0; // minutes after 00:00, 0..1439
        int end = 0;   // minutes after 00:00, 1..1440 (24:00), never equal to start
        bool operator==(const Span&) const = default;
    };
    unsigned days = 0; // bit 0 Monday ... bit 6 Sunday (Qt's dayOfWeek() - 1)
    std::vector<Span> spans;
    int allowance = 0; // minutes per day per person, 1..1440; 0: none
    bool operator==(const Schedule&) const = default;
};

constexpr int kMinutesPerDay = 24 * 60;
constexpr int kMinutesPerWeek = 7 * kMinutesPerDay;
constexpr unsigned kEveryDay = 0x7Fu;

// The one check of a rule's times, whoever brings them (the window, a CSV import, a client of
// the guard's control socket). The text is the stored form, as ScheduleText writes it and as
// people type it: the weekdays ("每天", "周一至周五", "周六日", "周一三五"; 日 and 天 are
// Sunday), then the spans ("21:00-07:00", also with "–" or "~"), separated by spaces or
// commas, and an allowance last ("60 分钟"; with it the weekdays default to every day and the
// spans may be left out). Empty text means always: nothing. A text that is not such a schedule,
// with an hour past 23 or a minute past 59 (24:00 only as an end), a span that ends where it
// starts, no weekday, or an allowance outside 1..1440 minutes, is refused whole: `error` says why
// in Chinese.
std::optional<Schedule> ParseSchedule(QStringView text, QString* error);
// The stored form of a schedule, which ParseSchedule reads back as it was.
QString ScheduleText(const Schedule& schedule);
// Checks a rule's stored times: true for none (always) and for a valid schedule.
bool ValidScheduleText(QStringView text, QString* error);
// The one check of the times of a rule of a kind (its 种类 text), for every path that stores
// them: ParseSchedule, and an allowance only where a person's time can be counted, on the
// pages of a 网站 or 全部网页 rule; a 标题包含 rule with one is refused whole. None for text
// that is refused; an empty schedule (days 0) for empty text: the rule holds always.
std::optional<Schedule> ParseRuleTimes(QStringView kind, QStringView text, QString* error);
bool ValidRuleTimes(QStringView kind, QStringView text, QString* error);

// The minute of the week a local time falls in: 0 is Monday 00:00, in the time's own zone.
int MinuteOfWeek(const QDateTime& local);
// Whether the schedule holds at a minute of the week.
bool ScheduleHolds(const Schedule& schedule, int minuteOfWeek);
// The minutes of the week at which the schedule starts or stops holding, ascending, each once.
std::vector<int> ScheduleChanges(const Schedule& schedule);

} // namespace winwarden
