#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace winwarden {

// One entry of a browser's DevTools target list.
struct DevToolsTarget {
    QString id;
    QString type;  // "page" for a tab showing a document; "browser_ui", "service_worker", ...
    QString title; // the page's own title: empty when the page has none
    QString url;
    bool operator==(const DevToolsTarget&) const = default;
};

// Longer texts in a target list are cut to these lengths: far above what a real page shows,
// low enough that a hostile page cannot make every pass slow.
inline constexpr qsizetype kMaxTitleChars = 64 * 1024;
inline constexpr qsizetype kMaxUrlChars = 1024 * 1024;
inline constexpr qsizetype kMaxIdChars = 256;

// Decodes a /json/list answer. Nothing when the answer is not a JSON array; entries that are
// not objects are skipped and missing fields read as empty. Safe on any input.
std::optional<std::vector<DevToolsTarget>> DecodeTargetList(const QByteArray& answer);

// Undoes the HTML escaping the browser applies to titles in its target list (&amp; &lt; &gt;
// &quot; &#39;), in one pass, so that a title whose own text is "&amp;" stays "&amp;".
QString UnescapeTargetTitle(QStringView title);

} // namespace winwarden
