// A match rule's times: how they are written and checked, and which rules hold at an instant of
// local time, Berlin's daylight saving changes of 2026 included.
#include "match/matchindex.h"
#include "match/schedule.h"

#include <QTest>
#include <QTimeZone>

using namespace winwarden;
using namespace Qt::StringLiterals;

namespace {

const QTimeZone kBerlin("Europe/Berlin");

QDateTime Berlin(const QString& local) {
    return QDateTime(QDate::fromString(local.left(10), Qt::ISODate),
                     QTime::fromString(local.mid(11), u"HH:mm"_s), kBerlin);
}

TimedRule Timed(qint64 id, MatchRule::Kind kind, const QString& text, const QString& times) {
    std::optional<Schedule> schedule = ParseSchedule(times, nullptr);
    if (!schedule)
        qFatal("%s", qPrintable(times));
    return {{id, kind, text, true}, std::move(schedule)};
}

} // namespace

class TestSchedule final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(kBerlin.isValid()); }

    // What people type comes back in one form; anything else is refused whole, saying why.
    void timesAreWrittenOneWayAndCheckedOnce() {
        const QList<std::pair<QString, QString>> good{
            {u" 周六日  10:00-12:00，14:00~16:00 "_s, u"周六日 10:00-12:00 14:00-16:00"_s},
            {u"星期一三五 7:30–24:00"_s, u"周一三五 07:30-24:00"_s},
            {u"周五至周一 22:00-06:00"_s, u"周五至周一 22:00-06:00"_s},
            {u"周一二四 08:00-09:00"_s, u"周一二四 08:00-09:00"_s},
            {u"周一至周日 12:00-13:00"_s, u"每天 12:00-13:00"_s},
            {u"60分钟"_s, u"每天 60 分钟"_s},
            {u"周六日 14:00-18:00, 1440 分钟"_s, u"周六日 14:00-18:00 1440 分钟"_s},
        };
        for (const auto& [typed, stored] : good) {
            QString error;
            const std::optional<Schedule> schedule = ParseSchedule(typed, &error);
            QVERIFY2(schedule, qPrintable(typed + u": "_s + error));
            QCOMPARE(ScheduleText(*schedule), stored);
            QCOMPARE(ParseSchedule(stored, nullptr), schedule);
        }
        const QList<std::pair<QString, QString>> bad{
            {u"周一 08:00-09:00 7:30-07:30"_s, u"结束与开始相同"_s},
            {u"周一 25:00-07:00"_s, u"不存在的时刻"_s},
            {u"周一 24:00-07:00"_s, u"不存在的时刻"_s},
            {u"21:00-07:00"_s, u"没有选择星期几"_s},
            {u"周一至周五"_s, u"没有时间段"_s},
            {u"周八 01:00-02:00"_s, u"写法"_s},
            {u"每天 1441 分钟"_s, u"1 与 1440"_s},
            {u"每天 0分钟"_s, u"1 与 1440"_s},
            {u"60 分钟 周一"_s, u"写法"_s},
            {u"每天 60"_s, u"写法"_s},
        };
        for (const auto& [typed, why] : bad) {
            QString error;
            QVERIFY2(!ParseSchedule(typed, &error), qPrintable(typed));
            QVERIFY2(error.contains(why), qPrintable(typed + u": "_s + error));
            QVERIFY(!ValidScheduleText(typed, nullptr));
        }
        QVERIFY(ValidScheduleText(u"  "_s, nullptr));

        // An allowance without spans holds all day on its days, changing only at midnight.
        const Schedule weekdays = *ParseSchedule(u"周一至周五 60 分钟"_s, nullptr);
        QCOMPARE(weekdays.allowance, 60);
        QVERIFY(ScheduleHolds(weekdays, 4 * kMinutesPerDay + 1439));
        QVERIFY(!ScheduleHolds(weekdays, 5 * kMinutesPerDay));
        QCOMPARE(ScheduleChanges(weekdays), (std::vector<int>{0, 5 * kMinutesPerDay}));
    }

    // Several timed rules over one week: each decides only within its times, and outside them
    // the next rule in the order does (here an untimed rule for the same site that passes).
    void theRulesThatHoldAtAnInstant() {
        using Kind = MatchRule::Kind;
        TimedRules rules({
            Timed(1, Kind::Site, u"youtube.com"_s, u"周一至周五 21:00-07:00"_s),
            Timed(2, Kind::TitleWord, u"game"_s, u"周六日 10:00-12:00 14:00-16:00"_s),
            Timed(3, Kind::Site, u"school.example"_s, u"周三 08:00-12:00"_s),
            {{4, Kind::Site, u"youtube.com"_s, false}, std::nullopt},
        });
        struct Case {
            QString when, title, url;
            qint64 rule; // the rule that decides, 0 for none
        };
        const QString tube = u"https://www.youtube.com/watch"_s;
        const QString school = u"https://school.example/"_s;
        const QString other = u"https://other.example/"_s;
        const QList<Case> cases{
            // 2026-12-07 is a Monday.
            {u"2026-12-07 20:59"_s, u"Video"_s, tube, 4},
            {u"2026-12-07 21:00"_s, u"Video"_s, tube, 1},
            {u"2026-12-08 06:59"_s, u"Video"_s, tube, 1},
            {u"2026-12-08 07:00"_s, u"Video"_s, tube, 4},
            {u"2026-12-07 03:00"_s, u"Video"_s, tube, 4}, // Sunday began no span
            {u"2026-12-12 03:00"_s, u"Video"_s, tube, 1}, // Friday's span, on Saturday
            {u"2026-12-12 11:00"_s, u"Game time"_s, other, 2},
            {u"2026-12-12 13:00"_s, u"Game time"_s, other, 0},
            {u"2026-12-13 15:59"_s, u"Game time"_s, other, 2},
            {u"2026-12-11 11:00"_s, u"Game time"_s, other, 0},
            {u"2026-12-09 09:00"_s, u"Lessons"_s, school, 3},
            {u"2026-12-08 09:00"_s, u"Lessons"_s, school, 0},
        };
        for (const Case& c : cases) {
            const MatchIndex index(rules.HoldingAt(MinuteOfWeek(Berlin(c.when))));
            const Verdict verdict = index.Decide(false, c.title, c.url);
            QCOMPARE(verdict.rule ? verdict.rule->id : 0, c.rule);
            QVERIFY2(verdict.blocked == (c.rule != 0 && c.rule != 4), qPrintable(c.when));
        }

        // Within the stretch from Monday 21:00 to Tuesday 07:00 nothing changes; past it, or
        // with the wall time set back, the rules are asked again.
        const int monday2100 = MinuteOfWeek(Berlin(u"2026-12-07 21:00"_s));
        (void)rules.HoldingAt(MinuteOfWeek(Berlin(u"2026-12-07 21:30"_s)));
        QVERIFY(!rules.Due(monday2100));
        QVERIFY(!rules.Due(MinuteOfWeek(Berlin(u"2026-12-08 06:59"_s))));
        QVERIFY(rules.Due(MinuteOfWeek(Berlin(u"2026-12-08 07:00"_s))));
        QVERIFY(rules.Due(MinuteOfWeek(Berlin(u"2026-12-07 20:59"_s))));
        QCOMPARE(rules.NextChange(monday2100), MinuteOfWeek(Berlin(u"2026-12-08 07:00"_s)));
        // Sunday 16:00 is the week's last change: the next one is Monday's.
        QCOMPARE(rules.NextChange(MinuteOfWeek(Berlin(u"2026-12-13 16:00"_s))), monday2100);
    }

    // Local wall time decides: the hour Berlin skips on 29 March 2026 holds no span, the hour
    // it repeats on 25 October holds one twice, and a night span ends at 03:00 on the clock.
    void daylightSavingChanges() {
        using Kind = MatchRule::Kind;
        TimedRules rules({
            Timed(1, Kind::Site, u"skipped.example"_s, u"周日 02:15-02:45"_s),
            Timed(2, Kind::Site, u"night.example"_s, u"周六 23:00-03:00"_s),
        });
        // UTC instant, host, whether its rule holds.
        const QList<std::tuple<QString, QString, bool>> cases{
            {u"2026-03-29T00:59:00Z"_s, u"skipped.example"_s, false}, // 01:59 CET, then 03:00 CEST
            {u"2026-03-29T00:59:00Z"_s, u"night.example"_s, true},    // 01:59 CET
            {u"2026-03-29T01:00:00Z"_s, u"night.example"_s, false},   // 03:00 CEST
            {u"2026-10-25T00:30:00Z"_s, u"skipped.example"_s, true},  // 02:30 CEST
            {u"2026-10-25T00:50:00Z"_s, u"skipped.example"_s, false}, // 02:50 CEST
            {u"2026-10-25T01:30:00Z"_s, u"skipped.example"_s, true},  // 02:30 CET, again
            {u"2026-10-25T01:59:00Z"_s, u"night.example"_s, true},    // 02:59 CET
            {u"2026-10-25T02:00:00Z"_s, u"night.example"_s, false},   // 03:00 CET
        };
        for (const auto& [utc, host, holds] : cases) {
            const QDateTime at = QDateTime::fromString(utc, Qt::ISODate).toTimeZone(kBerlin);
            const MatchIndex index(rules.HoldingAt(MinuteOfWeek(at)));
            QVERIFY2((index.SiteFor(host) != nullptr) == holds, qPrintable(utc + u' ' + host));
        }
    }
};

QTEST_APPLESS_MAIN(TestSchedule)
#include "test_schedule.moc"
