#include "match/schedule.h"

#include <QRegularExpression>
#include <algorithm>

namespace winwarden {

namespace {

using namespace Qt::StringLiterals;

constexpr char16_t kDayNames[] = u"一二三四五六日";

QString Form(QStringView what) {
    return u"时间的写法应为 周一至周五 21:00-07:00（星期几，再是一个或几个时间段；每天限时的，最后写分钟数，如 60 分钟），而不是“%1”"_s
        .arg(what);
}

// 1..7 for Monday..Sunday, 0 for no day name.
int DayNumber(QChar c) {
    if (c == u'天') {
        return 7;
    }
    for (int day = 0; day < 7; ++day) {
        if (c == kDayNames[day]) {
            return day + 1;
        }
    }
    return 0;
}

// "周一至周五", "周六日", "星期一三五", "每天": the days as bits, or nothing.
std::optional<unsigned> ParseDays(QString token) {
    if (token == u"每天"_s || token == u"每日"_s) {
        return 0x7Fu;
    }
    if (!token.startsWith(u'周') && !token.startsWith(u"星期"_s)) {
        return std::nullopt;
    }
    token.remove(u"星期"_s).remove(u'周');
    unsigned days = 0;
    for (qsizetype i = 0; i < token.size(); ++i) {
        const int day = DayNumber(token[i]);
        if (day == 0) {
            return std::nullopt;
        }
        if (i + 2 < token.size() && token[i + 1] == u'至') {
            const int last = DayNumber(token[i + 2]);
            if (last == 0) {
                return std::nullopt;
            }
            // 周五至周一 runs over the weekend.
            for (int d = day;; d = d % 7 + 1) {
                days |= 1u << (d - 1);
                if (d == last) {
                    break;
                }
            }
            i += 2;
        } else {
            days |= 1u << (day - 1);
        }
    }
    return days;
}

// "7:30" or "07:30" as minutes after 00:00; 24:00 only where `end`. Nothing when the text is
// no time; -1 when it is one no clock shows.
std::optional<int> ParseTime(QStringView text, bool end) {
    static const QRegularExpression time(u"^(\\d{1,2})[:：](\\d{2})$"_s);
    const QRegularExpressionMatch match = time.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const int hour = match.capturedView(1).toInt();
    const int minute = match.capturedView(2).toInt();
    if ((hour == 24 && minute == 0 && end) || (hour < 24 && minute < 60)) {
        return hour * 60 + minute;
    }
    return -1;
}

QString TimeText(int minutes) {
    return u"%1:%2"_s.arg(minutes / 60, 2, 10, QChar(u'0')).arg(minutes % 60, 2, 10, QChar(u'0'));
}

} // namespace

std::optional<Schedule> ParseSchedule(QStringView text, QString* error) {
    const auto fail = [error](const QString& why) -> std::optional<Schedule> {
        if (error) {
            *error = why;
        }
        return std::nullopt;
    };
    static const QRegularExpression separators(u"[\\s,，、]+"_s);
    static const QRegularExpression dash(u"[-–~～]"_s);
    static const QRegularExpression minutes(u"^([+-]?\\d+)(分钟)?$"_s);
    Schedule schedule;
    bool named = false;
    bool allowance = false;
    const QStringList tokens = text.toString().split(separators, Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QString& token = tokens[i];
        // "60 分钟" or "60分钟": the allowance, after everything else.
        if (const QRegularExpressionMatch match = minutes.match(token); match.hasMatch()) {
            const bool apart = match.capturedView(2).isEmpty();
            if ((apart && (i + 1 >= tokens.size() || tokens[i + 1] != u"分钟"_s)) || allowance) {
                return fail(Form(token));
            }
            i += apart ? 1 : 0;
            bool number = false;
            schedule.allowance = match.capturedView(1).toInt(&number);
            if (!number || schedule.allowance < 1 || schedule.allowance > kMinutesPerDay) {
                return fail(u"每天的时间 %1 分钟不行：应在 1 与 1440 分钟之间"_s.arg(
                    match.capturedView(1)));
            }
            allowance = true;
            continue;
        }
        if (allowance) {
            return fail(Form(token));
        }
        if (const std::optional<unsigned> days = ParseDays(token)) {
            schedule.days |= *days;
            named = true;
            continue;
        }
        const QStringList ends = token.split(dash);
        if (ends.size() != 2) {
            return fail(Form(token));
        }
        const std::optional<int> start = ParseTime(ends[0], false);
        const std::optional<int> end = ParseTime(ends[1], true);
        if (!start || !end) {
            return fail(Form(token));
        }
        if (*start < 0 || *end < 0) {
            return fail(
                u"时间段 %1 中有不存在的时刻（时刻应在 00:00 与 23:59 之间，结束也可以是 24:00）"_s
                    .arg(token));
        }
        if (*start == *end) {
            return fail(u"时间段 %1 的结束与开始相同"_s.arg(token));
        }
        schedule.spans.push_back({*start, *end});
    }
    if (allowance && !named) {
        schedule.days = kEveryDay;
        named = true;
    }
    if (!named || schedule.days == 0) {
        return fail(u"没有选择星期几：时间只在选中的日子里生效"_s);
    }
    if (schedule.spans.empty() && !allowance) {
        return fail(u"没有时间段：请写出开始和结束，如 21:00-07:00（全天为 00:00-24:00）"_s);
    }
    return schedule;
}

QString ScheduleText(const Schedule& schedule) {
    QString text;
    if (schedule.days == kEveryDay) {
        text = u"每天"_s;
    } else {
        // One run of three days or more reads best as a range: 周一至周五.
        int first = -1;
        int last = -1;
        bool oneRun = true;
        for (int day = 0; day < 7; ++day) {
            if (schedule.days & (1u << day)) {
                if (first < 0) {
                    first = day;
                } else if (day != last + 1) {
                    oneRun = false;
                }
                last = day;
            }
        }
        if (oneRun && first >= 0 && last - first >= 2) {
            text = u"周%1至周%2"_s.arg(QChar(kDayNames[first]), QChar(kDayNames[last]));
        } else {
            text = u"周"_s;
            for (int day = 0; day < 7; ++day) {
                if (schedule.days & (1u << day)) {
                    text += QChar(kDayNames[day]);
                }
            }
        }
    }
    for (const Schedule::Span& span : schedule.spans) {
        text += u' ' + TimeText(span.start) + u'-' + TimeText(span.end);
    }
    if (schedule.allowance > 0) {
        text += u" %1 分钟"_s.arg(schedule.allowance);
    }
    return text;
}

bool ValidScheduleText(QStringView text, QString* error) {
    return text.trimmed().isEmpty() || ParseSchedule(text, error).has_value();
}

std::optional<Schedule> ParseRuleTimes(QStringView kind, QStringView text, QString* error) {
    if (text.trimmed().isEmpty()) {
        return Schedule{};
    }
    std::optional<Schedule> schedule = ParseSchedule(text, error);
    // A title's words do not tell which pages are one thing a person spends time on.
    if (schedule && schedule->allowance > 0 && kind == u"标题包含") {
        if (error) {
            *error =
                u"标题包含 规则不能有每天的时间（%1 分钟）：每天限时只用于 网站 和 全部网页 规则"_s
                    .arg(schedule->allowance);
        }
        return std::nullopt;
    }
    return schedule;
}

bool ValidRuleTimes(QStringView kind, QStringView text, QString* error) {
    return ParseRuleTimes(kind, text, error).has_value();
}

int MinuteOfWeek(const QDateTime& local) {
    const QTime time = local.time();
    return (local.date().dayOfWeek() - 1) * kMinutesPerDay + time.hour() * 60 + time.minute();
}

bool ScheduleHolds(const Schedule& schedule, int minuteOfWeek) {
    const int day = minuteOfWeek / kMinutesPerDay;
    const int minute = minuteOfWeek % kMinutesPerDay;
    const bool today = schedule.days & (1u << day);
    const bool yesterday = schedule.days & (1u << ((day + 6) % 7));
    if (schedule.spans.empty()) {
        return today; // an allowance alone: its days, all day
    }
    for (const Schedule::Span& span : schedule.spans) {
        if (span.start < span.end) {
            if (today && minute >= span.start && minute < span.end) {
                return true;
            }
        } else if ((today && minute >= span.start) || (yesterday && minute < span.end)) {
            return true;
        }
    }
    return false;
}

std::vector<int> ScheduleChanges(const Schedule& schedule) {
    std::vector<int> changes;
    for (int day = 0; day < 7; ++day) {
        if (!(schedule.days & (1u << day))) {
            continue;
        }
        if (schedule.spans.empty()) {
            for (const int minute :
                 {day * kMinutesPerDay, (day + 1) * kMinutesPerDay % kMinutesPerWeek}) {
                const int before = (minute + kMinutesPerWeek - 1) % kMinutesPerWeek;
                if (ScheduleHolds(schedule, before) != ScheduleHolds(schedule, minute)) {
                    changes.push_back(minute);
                }
            }
        }
        for (const Schedule::Span& span : schedule.spans) {
            const int from = day * kMinutesPerDay;
            const int to =
                span.start < span.end ? from + span.end : from + kMinutesPerDay + span.end;
            for (const int minute : {from + span.start, to % kMinutesPerWeek}) {
                // Spans that touch or overlap change nothing where one ends inside another.
                const int before = (minute + kMinutesPerWeek - 1) % kMinutesPerWeek;
                if (ScheduleHolds(schedule, before) != ScheduleHolds(schedule, minute)) {
                    changes.push_back(minute);
                }
            }
        }
    }
    std::sort(changes.begin(), changes.end());
    changes.erase(std::unique(changes.begin(), changes.end()), changes.end());
    return changes;
}

} // namespace winwarden
