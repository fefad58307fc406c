#include "store/rulecsv.h"

#include <QStringDecoder>
#include <array>

namespace winwarden {

namespace {

const QList<QByteArray> kHeader{"窗口名称", "是否禁止", "网址"};

void AppendField(QByteArray& out, const std::optional<QString>& field) {
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

// One record of raw fields; a field that was quoted is marked, so that "" and nothing differ.
struct Field {
    QByteArray text;
    bool quoted = false;
};

} // namespace

QByteArray WriteRulesCsv(const std::vector<Rule>& rules) {
    QByteArray out = kHeader.join(',') + "\r\n";
    for (const Rule& rule : rules) {
        AppendField(out, rule.name);
        out.append(',');
        AppendField(out, rule.flag);
        out.append(',');
        AppendField(out, rule.url);
        out.append("\r\n");
    }
    return out;
}

std::optional<std::vector<Rule>> ReadRulesCsv(const QByteArray& input, QString* error) {
    QByteArray text = input;
    if (text.startsWith("\xEF\xBB\xBF")) {
        text.remove(0, 3);
    }
    const auto fail = [&](const QString& why) -> std::optional<std::vector<Rule>> {
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
    if (records.empty() || records.front().size() != 3 || records.front()[0].text != kHeader[0] ||
        records.front()[1].text != kHeader[1] || records.front()[2].text != kHeader[2]) {
        return fail(at(1, QStringLiteral("应为 窗口名称,是否禁止,网址")));
    }
    std::vector<Rule> rules;
    rules.reserve(records.size() - 1);
    for (size_t r = 1; r < records.size(); ++r) {
        const std::vector<Field>& fields = records[r];
        if (fields.size() != 3) {
            return fail(QStringLiteral("第 %1 条规则：应有 3 个字段，实有 %2 个")
                            .arg(r)
                            .arg(fields.size()));
        }
        std::array<std::optional<QString>, 3> values;
        for (size_t f = 0; f < 3; ++f) {
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
        rules.push_back(Rule{values[0], values[1], values[2]});
    }
    return rules;
}

} // namespace winwarden
