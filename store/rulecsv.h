#pragma once

#include "store/matchstore.h"
#include "store/rulestore.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace winwarden {

// Rules as CSV text (RFC 4180, UTF-8): a header line 窗口名称,是否禁止,网址, then one line per
// rule, CRLF after each. A field holding a comma, a quote or a line break is quoted, quotes
// doubled. A NULL field is written as nothing at all and the empty text as "", so that a
// round trip keeps every field as it was.
//
// With match rules the header gains a fourth column, 种类, which tells the lines apart: a
// title rule (table 窗口名表) says 窗口名称 there (or nothing); any other text is the kind of a
// match rule (table 匹配规则: 网站, 标题包含), whose 内容 stands in the first column and which
// has no 网址. Without match rules the file has the three columns alone, as before. Where a
// match rule has times (match/schedule.h) a fifth column, 时间, holds them; a file whose times
// are not all valid is refused whole.
struct CsvRules {
    std::vector<Rule> titles;
    std::vector<MatchRuleRow> matches; // their keys are not carried: 0
};
QByteArray WriteRulesCsv(const std::vector<Rule>& rules,
                         const std::vector<MatchRuleRow>& matches = {});

// One field as these files write it: nothing for NULL, else quoted, quotes doubled.
void AppendCsvField(QByteArray& out, const std::optional<QString>& field);

// Reads such text back (a byte-order mark and LF line ends are accepted too). Nothing, with
// `error` saying where, when the text is not such a table.
std::optional<CsvRules> ReadRulesCsv(const QByteArray& text, QString* error);

} // namespace winwarden
