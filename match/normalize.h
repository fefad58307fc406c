#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace winwarden {

// A page title or the words of a 标题包含 rule as the two are compared: invisible characters
// removed (zero-width spaces and joiners, soft hyphens, direction marks, variation selectors,
// fillers: Unicode's format characters and the other default-ignorable ones), Unicode NFKC
// (full-width letters become plain ones), case folded, and every run of white space made one
// space, none left at either end. Text that was only invisible characters comes out empty.
QString NormalizeTitle(QStringView text);

// The host a 网站 rule names, from what a user types or pastes: a host name ("Game.Example.",
// "例子.中国") or a whole address ("https://www.game.example/x?y", "game.example:8080/x"), as
// IDNA (punycode) ASCII in lower case without a trailing dot. Nothing when the text names no
// host: empty, white space, "*", an empty label (".."), a character no host name may hold.
std::optional<QString> CanonicalHost(QStringView text);

// The canonical host of a page's address, the same way; empty when the address has none
// (about:, data:, file:, a browser's own pages, ...). Quick for the ASCII hosts that browsers
// report, since a cycle asks it of every open page.
QString PageHost(QStringView url);

// A canonical host as people read it: punycode labels shown in Unicode where Qt does so.
QString DisplayHost(const QString& host);

} // namespace winwarden
