#include "store/rulecsv.h"

#include "match/schedule.h"
#include "store/flag.h"

#include <QStringDecoder>
#include <algorithm>
#include <array>

namespace winwarden {

namespace {

const QList<QByteArray> kHeader{"窗口名称", "是否禁止", "网址", "种类", "时间"};
constexpr qsizetype kTitleColumns = 3;
constexpr qsizetype kKindColumns = 4;

} // namespace

void AppendCsvField(QByteArray& out, const std::optional<QString>& field) {
    if (!field) {
        return;
    }
    const QByteArray text = field->toUtf8();
    out.append('"');
    for (const char c : text) {
        if (c == '"') {
            out.append('"');
        }
        out.append(c);
    }
    out.append('"');
}

namespace {

// One record of raw fields; a field that was quoted is marked, so that "" and nothing differ.
struct Field {
    QByteArray text;
    bool quoted = false;
};

} // namespace

QByteArray WriteRulesCsv(const std::vector<Rule>& rules, const std::vector<MatchRuleRow>& matches) {
    const bool kinds = !matches.empty();
    // The column of times only where a rule has some: other files stay as they were.
    const bool times = std::any_of(matches.begin(), matches.end(), [](const MatchRuleRow& match) {
        return match.times && !match.times->isEmpty();
    });
    QByteArray out = kHeader.first(times   ? kHeader.size()
                                   : kinds ? kKindColumns
                                           : kTitleColumns)
                         .join(',') +
                     "\r\n";
    const auto line = [&](const std::optional<QString>& first, const std::optional<QString>& flag,
                          const std::optional<QString>& url, const QString* kind,
                          const std::optional<QString>& when = std::nullopt) {
        AppendCsvField(out, first);
        out.append(',');
        AppendCsvField(out, flag);
        out.append(',');
        AppendCsvField(out, url);
        if (kind) {
            out.append(',');
            AppendCsvField(out, *kind);
        }
        if (times) {
            out.append(',');
            AppendCsvField(out, when);
        }
        out.append("\r\n");
    };
    for (const Rule& rule : rules) {
        line(rule.name, rule.flag, rule.url, kinds ? &kKindTitle : nullptr);
    }
    for (const MatchRuleRow& match : matches) {
        // A kind of NULL would read back as a title rule: it goes as the empty text.
        const QString kind = match.kind.value_or(QStringLiteral(""));
        line(match.text, match.flag, std::nullopt, &kind, match.times);
    }
    return out;
}

std::optional<CsvRules> ReadRulesCsv(const QByteArray& input, QString* error) {
    QByteArray text = input;
    if (text.startsWith("\xEF\xBB\xBF")) {
        text.remove(0, 3);
    }
    const auto fail = [&](const QString& why) -> std::optional<CsvRules> {
        if (error) {
            *error = why;
        }
        return std::nullopt;
    };
    const auto at = [](int line, const QString& why) {
        return QStringLiteral("第 %1 行：%2").arg(line).arg(why);
    };
    std::vector<std::vector<Field>> records;
    std::vector<Field> record(1);
    int line = 1;
    qsizetype i = 0;
    bool atFieldStart = true;
    while (i < text.size()) {
        const char c = text[i];
        if (atFieldStart && c == '"') {
            // A quoted field runs to the quote that is not doubled.
            record.back().quoted = true;
            const int opened = line;
            ++i;
            for (;;) {
                if (i >= text.size()) {
                    return fail(at(opened, QStringLiteral("引号没有结束")));
                }
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        record.back().text.append('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                if (text[i] == '\n') {
                    ++line;
                }
                record.back().text.append(text[i++]);
            }
            atFieldStart = false;
            if (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
                return fail(at(line, QStringLiteral("引号后面只能是逗号或行尾")));
            }
            continue;
        }
        if (c == ',') {
            record.emplace_back();
            atFieldStart = true;
            ++i;
        } else if (c == '\r' || c == '\n') {
            i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
            records.push_back(std::exchange(record, std::vector<Field>(1)));
            atFieldStart = true;
            ++line;
        } else if (c == '"') {
            return fail(at(line, QStringLiteral("没有引号的字段中不能有引号")));
        } else {
            record.back().text.append(c);
            atFieldStart = false;
            ++i;
        }
    }
    if (record.size() > 1 || !record.front().text.isEmpty() || record.front().quoted) {
        records.push_back(std::move(record));
    }
    const auto headerIs = [&](qsizetype columns) {
        const std::vector<Field>& header = records.front();
        if (header.size() != static_cast<size_t>(columns)) {
            return false;
        }
        for (qsizetype c = 0; c < columns; ++c) {
            if (header[static_cast<size_t>(c)].text != kHeader[c]) {
                return false;
            }
        }
        return true;
    };
    if (records.empty() ||
        (!headerIs(kTitleColumns) && !headerIs(kKindColumns) && !headerIs(kHeader.size()))) {
        return fail(
            at(1, QStringLiteral("应为 窗口名称,是否禁止,网址 或 窗口名称,是否禁止,网址,种类 "
                                 "或 窗口名称,是否禁止,网址,种类,时间")));
    }
    const size_t columns = records.front().size();
    CsvRules rules;
    rules.titles.reserve(records.size() - 1);
    for (size_t r = 1; r < records.size(); ++r) {
        const std::vector<Field>& fields = records[r];
        if (fields.size() != columns) {
            return fail(QStringLiteral("第 %1 条规则：应有 %2 个字段，实有 %3 个")
                            .arg(r)
                            .arg(columns)
                            .arg(fields.size()));
        }
        std::array<std::optional<QString>, 5> values;
        for (size_t f = 0; f < columns; ++f) {
            if (!fields[f].quoted && fields[f].text.isEmpty()) {
                continue; // NULL
            }
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString value = utf8.decode(fields[f].text);
            if (utf8.hasError()) {
                return fail(QStringLiteral("第 %1 条规则：不是 UTF-8 文本").arg(r));
            }
            values[f] = value;
        }
        if (!values[3] || *values[3] == kKindTitle) {
            if (values[4] && !values[4]->isEmpty()) {
                return fail(QStringLiteral("第 %1 条规则：窗口名称规则没有时间").arg(r));
            }
            rules.titles.push_back(Rule{values[0], values[1], values[2]});
            continue;
        }
        if (values[2] && !values[2]->isEmpty()) {
            return fail(QStringLiteral("第 %1 条规则：%2 规则没有网址").arg(r).arg(*values[3]));
        }
        if (values[4] && !values[4]->trimmed().isEmpty()) {
            QString why;
            const std::optional<Schedule> schedule =
                ParseRuleTimes(values[3].value_or(QString()), *values[4], &why);
            if (!schedule) {
                return fail(QStringLiteral("第 %1 条规则：%2").arg(r).arg(why));
            }
            values[4] = ScheduleText(*schedule);
        } else {
            values[4].reset();
        }
        rules.matches.push_back(MatchRuleRow{0, values[3], values[0], values[1], values[4]});
    }
    return rules;
}

} // namespace winwarden
