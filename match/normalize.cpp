#include "match/normalize.h"

#include <QUrl>

namespace winwarden {

namespace {

// Characters that show nothing and so let a title hide a word: format characters (zero-width
// space, joiners, soft hyphen, direction marks, byte-order mark, tags) and the other
// default-ignorable code points (combining grapheme joiner, fillers, variation selectors).
bool Invisible(char32_t c) {
    if (QChar::category(c) == QChar::Other_Format) {
        return true;
    }
    return c == 0x034F || c == 0x115F || c == 0x1160 || c == 0x17B4 || c == 0x17B5 ||
           (c >= 0x180B && c <= 0x180F) || c == 0x3164 || (c >= 0xFE00 && c <= 0xFE0F) ||
           c == 0xFFA0 || (c >= 0xE0000 && c <= 0xE0FFF);
}

bool IsAscii(QStringView text) {
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            return false;
        }
    }
    return true;
}

QString WithoutInvisible(QStringView text) {
    QString visible;
    visible.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            if (!Invisible(QChar::surrogateToUcs4(c, text[i + 1]))) {
                visible.append(c).append(text[i + 1]);
            }
            ++i;
        } else if (!Invisible(c.unicode())) {
            visible.append(c);
        }
    }
    return visible;
}

// The host of an address's authority, or of the text itself when it has no scheme: what
// lies before the path, query or fragment, without user name and port. IPv6 literals are
// no host names for these rules.
QStringView AuthorityHost(QStringView text) {
    const qsizetype scheme = text.indexOf(u"://");
    QStringView authority = scheme >= 0 ? text.sliced(scheme + 3) : text;
    for (qsizetype i = 0; i < authority.size(); ++i) {
        const QChar c = authority[i];
        if (c == u'/' || c == u'?' || c == u'#' || c == u'\\') {
            authority.truncate(i);
            break;
        }
    }
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0) {
        authority = authority.sliced(at + 1);
    }
    if (authority.startsWith(u'[')) {
        return {};
    }
    if (const qsizetype colon = authority.lastIndexOf(u':'); colon >= 0) {
        authority.truncate(colon);
    }
    return authority;
}

// What QUrl::toAce lets through that no host name holds: empty or over-long labels, and
// characters outside letters, digits, '-' and '_' (which real hosts do carry).
bool IsAceHostName(QStringView host) {
    if (host.size() > 253) {
        return false;
    }
    qsizetype label = 0;
    for (const QChar c : host) {
        if (c == u'.') {
            if (label == 0) {
                return false;
            }
            label = 0;
            continue;
        }
        const char16_t u = c.unicode();
        const bool allowed =
            (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'-' || u == u'_';
        if (!allowed || ++label > 63) {
            return false;
        }
    }
    return label > 0;
}

// Letters, digits, '-' and '_' in labels that neither begin nor end with '-' and are no
// punycode: what IDNA leaves as it is.
bool IsPlainHostName(QStringView host) {
    if (!IsAceHostName(host)) {
        return false;
    }
    for (const QStringView label : host.split(u'.')) {
        if (label.startsWith(u'-') || label.endsWith(u'-') || label.startsWith(u"xn--")) {
            return false;
        }
    }
    return true;
}

// Page addresses whose host is a web site's; a browser's own pages (chrome:, about:,
// moz-extension:, ...) have none. "view-source:https://…" and "blob:https://…" count as the
// site they show.
bool WebScheme(QStringView scheme) {
    if (const qsizetype colon = scheme.lastIndexOf(u':'); colon >= 0) {
        scheme = scheme.sliced(colon + 1);
    }
    for (const char* web : {"http", "https", "ws", "wss", "ftp"}) {
        if (scheme.compare(QLatin1StringView(web), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

QString NormalizeTitle(QStringView text) {
    if (IsAscii(text)) {
        // Nothing to remove or compose: lower case and white space is all there is to do.
        return text.toString().toLower().simplified();
    }
    // Removed first, so that an invisible character between a letter and its accent does not
    // keep the two from composing.
    QString normal = WithoutInvisible(text).normalized(QString::NormalizationForm_KC);
    // Qt folds letter by letter; the one full folding people type is ß (and ẞ) as "ss".
    // Folding can undo the normal form (a few letters fold to a base and a combining mark).
    normal = normal.toCaseFolded()
                 .replace(QChar(0x00DF), QStringLiteral("ss"))
                 .normalized(QString::NormalizationForm_KC);
    return normal.simplified();
}

std::optional<QString> CanonicalHost(QStringView text) {
    const QStringView trimmed = text.trimmed();
    for (const QChar c : trimmed) {
        if (c.isSpace()) {
            return std::nullopt;
        }
    }
    QStringView host = AuthorityHost(trimmed);
    if (host.endsWith(u'.')) {
        host.chop(1);
    }
    if (host.isEmpty()) {
        return std::nullopt;
    }
    // A plain ASCII name is its own IDNA form once in lower case: thousands of rules are made
    // ready at once, and the long way costs microseconds each.
    if (const QString lower = host.toString().toLower(); IsPlainHostName(lower)) {
        return lower;
    }
    // IDNA: Unicode labels to punycode, full-width and upper-case letters to plain lower case;
    // "*", "..", "-x" and the like come back empty.
    const QString ace = QString::fromLatin1(QUrl::toAce(host.toString())).toLower();
    if (!IsAceHostName(ace)) {
        return std::nullopt;
    }
    return ace;
}

QString PageHost(QStringView url) {
    const qsizetype scheme = url.indexOf(u"://");
    if (scheme <= 0 || !WebScheme(url.first(scheme))) {
        return {};
    }
    QStringView host = AuthorityHost(url);
    if (host.endsWith(u'.')) {
        host.chop(1);
    }
    for (const QChar c : host) {
        const char16_t u = c.unicode();
        // Browsers report hosts in punycode already; anything else goes the long way.
        if (u >= 0x80 || u == u'%') {
            return CanonicalHost(host).value_or(QString());
        }
    }
    return host.toString().toLower();
}

QString DisplayHost(const QString& host) {
    return QUrl::fromAce(host.toLatin1());
}

} // namespace winwarden
