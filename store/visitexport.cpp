#include "store/visitexport.h"

#include "store/connection.h"
#include "store/rulecsv.h"

#include <QDateTime>

namespace winwarden {

namespace {

QString Stamp(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString Seconds(qint64 ms) {
    return QStringLiteral("%1.%2").arg(ms / 1000).arg(ms % 1000, 3, 10, QChar(u'0'));
}

QString N(qint64 number) {
    return QString::number(number);
}

QString Esc(const QString& text) {
    return text.toHtmlEscaped();
}

constexpr int kChartWidth = 720;
constexpr int kLabelWidth = 220;
constexpr int kBarHeight = 22;

QString BarChart(const DaySummary& day) {
    const qint64 biggest =
        day.perSite.empty() ? 1 : std::max<qint64>(day.perSite.front().second, 1);
    const int height = kBarHeight * int(day.perSite.size()) + 4;
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" "
                                 "height=\"%2\" role=\"img\" aria-label=\"各网站的在前时间\">\n")
                      .arg(kChartWidth)
                      .arg(height);
    int y = 2;
    for (const auto& [host, ms] : day.perSite) {
        const int width =
            int(double(kChartWidth - kLabelWidth - 90) * double(ms) / double(biggest));
        svg +=
            QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>"
                           "<rect x=\"%4\" y=\"%5\" width=\"%6\" height=\"%7\" fill=\"#3f7fbf\"/>"
                           "<text x=\"%8\" y=\"%2\">%9</text>\n")
                .arg(N(kLabelWidth - 6), N(y + 15),
                     Esc(host.isEmpty() ? QStringLiteral("（无网站）") : host), N(kLabelWidth),
                     N(y + 3), N(std::max(width, 1)), N(kBarHeight - 6),
                     N(kLabelWidth + std::max(width, 1) + 6), Esc(SpentText(ms)));
        y += kBarHeight;
    }
    return svg + QStringLiteral("</svg>\n");
}

QString Timeline(const DaySummary& day) {
    constexpr int cell = 28;
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" "
                                 "height=\"44\" role=\"img\" aria-label=\"有页面打开的时段\">\n")
                      .arg(cell * 24 + 2);
    for (int hour = 0; hour < 24; ++hour) {
        const qint64 open = day.openPerHour[size_t(hour)];
        svg += QStringLiteral("<rect x=\"%1\" y=\"2\" width=\"%2\" height=\"22\" fill=\"%3\" "
                              "stroke=\"#999\"><title>%4 时：%5</title></rect>"
                              "<text x=\"%6\" y=\"40\" text-anchor=\"middle\">%4</text>\n")
                   .arg(N(1 + hour * cell), N(cell),
                        open > 0 ? QStringLiteral("#3f7fbf") : QStringLiteral("#fff"), N(hour),
                        open > 0 ? SpentText(open) : QStringLiteral("无"),
                        N(1 + hour * cell + cell / 2));
    }
    return svg + QStringLiteral("</svg>\n");
}

} // namespace

QString VisitTimeText(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

std::vector<VisitRow> ReadVisits(const QString& name, const VisitQuery& query) {
    QSqlDatabase db =
        OpenDatabase(UniqueConnectionName("visits"), ParseDatabaseName(name), OpenMode::ReadWrite);
    try {
        std::vector<VisitRow> visits = VisitStore(db).List(query);
        CloseDatabase(db);
        return visits;
    } catch (...) {
        CloseDatabase(db);
        throw;
    }
}

QByteArray WriteVisitsCsv(const std::vector<VisitRow>& visits) {
    QByteArray out("用户,用户编号,站点,开始,结束,在前（秒）,窗口名称,主机,网址,结果,规则\r\n");
    for (const VisitRow& visit : visits) {
        const std::optional<QString> fields[] = {
            visit.user,       QString::number(visit.uid),
            visit.station,    Stamp(visit.start),
            Stamp(visit.end), visit.frontMs ? std::optional(Seconds(*visit.frontMs)) : std::nullopt,
            visit.title,      visit.host,
            visit.url,        visit.result,
            visit.rule,
        };
        bool first = true;
        for (const std::optional<QString>& field : fields) {
            if (!first) {
                out.append(',');
            }
            first = false;
            AppendCsvField(out, field);
        }
        out.append("\r\n");
    }
    return out;
}

QByteArray WriteDayReportHtml(const DaySummary& day, const QDate& date, const QString& who) {
    const QString title = QStringLiteral("访问记录：%1，%2").arg(who, date.toString(Qt::ISODate));
    QString html =
        QStringLiteral(
            "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\"/>\n"
            "<title>%1</title>\n<style>\nbody { font-family: sans-serif; margin: 2em; }\n"
            "table { border-collapse: collapse; margin-bottom: 1.5em; }\n"
            "th, td { border: 1px solid #ccc; padding: 0.2em 0.6em; text-align: left; "
            "vertical-align: top; }\n"
            "td.url { word-break: break-all; max-width: 30em; }\n"
            "svg text { font-size: 13px; }\n</style>\n</head>\n<body>\n<h1>%1</h1>\n")
            .arg(Esc(title));
    if (day.visits.empty()) {
        html += QStringLiteral("<p>这一天没有访问记录。</p>\n</body>\n</html>\n");
        return html.toUtf8();
    }
    html +=
        QStringLiteral("<p>在前台的时间合计：%1；访问 %2 次，其中被禁止 %3 次。</p>\n")
            .arg(SpentText(day.total), N(qint64(day.visits.size())), N(qint64(day.blocked.size())));
    html += QStringLiteral("<h2>各网站的时间</h2>\n") + BarChart(day);
    html += QStringLiteral("<table>\n<tr><th>网站</th><th>时间</th></tr>\n");
    for (const auto& [host, ms] : day.perSite) {
        html += QStringLiteral("<tr data-host=\"%1\" data-ms=\"%2\"><td>%1</td><td>%3</td></tr>\n")
                    .arg(Esc(host), N(ms), SpentText(ms));
    }
    html += QStringLiteral("</table>\n<h2>有页面打开的时段</h2>\n") + Timeline(day);
    html += QStringLiteral("<h2>被禁止的尝试</h2>\n");
    if (day.blocked.empty()) {
        html += QStringLiteral("<p>没有。</p>\n");
    } else {
        html += QStringLiteral("<table>\n<tr><th>时间</th><th>用户</th><th>窗口名称</th>"
                               "<th>网站</th><th>规则</th></tr>\n");
        for (const VisitRow& visit : day.blocked) {
            html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td>"
                                   "</tr>\n")
                        .arg(VisitTimeText(visit.start), Esc(visit.user), Esc(visit.title),
                             Esc(visit.host), Esc(visit.rule));
        }
        html += QStringLiteral("</table>\n");
    }
    html += QStringLiteral("<h2>访问</h2>\n<table>\n<tr><th>开始</th><th>结束</th><th>在前</th>"
                           "<th>用户</th><th>窗口名称</th><th>网址</th><th>结果</th></tr>\n");
    for (const VisitRow& visit : day.visits) {
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td>"
                               "<td class=\"url\">%6</td><td>%7</td></tr>\n")
                    .arg(VisitTimeText(visit.start), VisitTimeText(visit.end),
                         visit.frontMs ? SpentText(*visit.frontMs) : QStringLiteral("—"),
                         Esc(visit.user), Esc(visit.title), Esc(visit.url), Esc(visit.result));
    }
    html += QStringLiteral("</table>\n</body>\n</html>\n");
    return html.toUtf8();
}

} // namespace winwarden
