#include "tools/visitcommands.h"

#include "store/databasename.h"
#include "store/storeerror.h"
#include "store/visitday.h"
#include "store/visitexport.h"

#include <QDate>
#include <QSaveFile>

namespace winwarden {

namespace {

void Save(const QString& path, const QByteArray& data) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) < 0 || !file.commit()) {
        throw StoreError(QStringLiteral("write"), path + QStringLiteral("：") + file.errorString());
    }
}

} // namespace

QString VisitCommandsUsage() {
    return QStringLiteral(
        "history [--user 用户] [--since 日期] [--until 日期] 文件.csv [数据库] | "
        "report --day 日期 [--user 用户] 文件.html [数据库]（日期如 2026-03-02）");
}

std::optional<QString> RunVisitCommand(const QString& command, const QStringList& args,
                                       QString* shownDatabase) {
    const bool report = command == QLatin1String("report");
    QString user;
    std::optional<QDate> since, until, day;
    QStringList rest;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& word = args[i];
        std::optional<QDate>* date = word == QLatin1String("--since") && !report   ? &since
                                     : word == QLatin1String("--until") && !report ? &until
                                     : word == QLatin1String("--day") && report    ? &day
                                                                                   : nullptr;
        if (date && i + 1 < args.size()) {
            const QDate parsed = QDate::fromString(args[++i], Qt::ISODate);
            if (!parsed.isValid()) {
                return std::nullopt;
            }
            *date = parsed;
        } else if (word == QLatin1String("--user") && i + 1 < args.size()) {
            user = args[++i];
        } else if (word.startsWith(QLatin1Char('-')) || word.isEmpty()) {
            return std::nullopt;
        } else {
            rest << word;
        }
    }
    if (rest.size() == 1) {
        rest << DatabaseNameFromEnvironment();
    }
    if (rest.size() != 2 || (report && !day)) {
        return std::nullopt;
    }
    *shownDatabase = DatabaseDisplayName(rest[1]);
    VisitQuery query;
    query.user = user;
    if (report) {
        const auto [begin, end] = DayBounds(*day);
        query.since = begin;
        query.until = end;
        const DaySummary summary = SummarizeDay(ReadVisits(rest[1], query), *day);
        Save(rest[0],
             WriteDayReportHtml(summary, *day, user.isEmpty() ? QStringLiteral("所有用户") : user));
        return QStringLiteral("已把 %1 的访问报告（%2 次访问）写到 %3")
            .arg(day->toString(Qt::ISODate), QString::number(summary.visits.size()), rest[0]);
    }
    if (since) {
        query.since = DayBounds(*since).first;
    }
    if (until) {
        query.until = DayBounds(*until).second;
    }
    const std::vector<VisitRow> visits = ReadVisits(rest[1], query);
    Save(rest[0], WriteVisitsCsv(visits));
    return QStringLiteral("已把 %1 条访问记录导出到 %2")
        .arg(QString::number(visits.size()), rest[0]);
}

} // namespace winwarden
