#pragma once

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
QByteArray WriteRulesCsv(const std::vector<Rule>& rules);

// Reads such text back (a byte-order mark and LF line ends are accepted too). Nothing, with
// `error` saying where, when the text is not such a table.
std::optional<std::vector<Rule>> ReadRulesCsv(const QByteArray& text, QString* error);

} // namespace winwarden
