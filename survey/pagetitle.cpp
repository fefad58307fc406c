#include "survey/pagetitle.h"

#include <QUrl>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

QString Decoded(const QString& text) {
    return QUrl::fromPercentEncoding(text.toUtf8());
}

// The URL as the browser shows it in place of a missing title: no user info, no "http://",
// and no lone "/" after a bare host name; of a local file, only its name.
QString DisplayedUrl(const QString& url) {
    const qsizetype schemeEnd = url.indexOf(u"://"_s);
    if (schemeEnd < 0) {
        return url;
    }
    const QString scheme = url.left(schemeEnd);
    if (scheme.compare(u"file"_s, Qt::CaseInsensitive) == 0) {
        return url.section(u'/', -1);
    }
    QString rest = url.mid(schemeEnd + 3);
    const qsizetype authorityEnd = rest.indexOf(u'/');
    const qsizetype at = rest.left(authorityEnd < 0 ? rest.size() : authorityEnd).indexOf(u'@');
    if (at >= 0) {
        rest.remove(0, at + 1);
    }
    if (rest.indexOf(u'/') == rest.size() - 1) {
        rest.chop(1);
    }
    return scheme.compare(u"http"_s, Qt::CaseInsensitive) == 0 ? rest : scheme + u"://"_s + rest;
}

// Whether `title` may be DisplayedUrl(url) when neither holds an escape: the displayed form
// ends as the URL does, or as it does before a lone "/" that is dropped.
bool EndsAlike(const QString& title, const QString& url) {
    const QChar last = title.back();
    return last == url.back() ||
           (url.back() == u'/' && url.size() >= 2 && last == url[url.size() - 2]);
}

} // namespace

bool IsUrlStandInTitle(const QString& title, const QString& url) {
    if (title.isEmpty() || url.isEmpty()) {
        return false;
    }
    if (title == url) {
        return true;
    }
    const bool escaped = title.contains(u'%') || url.contains(u'%');
    if (!escaped && !EndsAlike(title, url)) {
        return false; // nearly every titled page ends here, without building the shown URL
    }
    // The browser unescapes some characters of the URL it shows and keeps others escaped;
    // comparing both sides fully unescaped covers every such choice. Without an escape on
    // either side the texts must be equal as they stand, which spares the decoding for the
    // titles of nearly every page.
    const QString shown = DisplayedUrl(url);
    if (!title.contains(u'%') && !shown.contains(u'%')) {
        return title == shown;
    }
    return Decoded(title) == Decoded(shown);
}

} // namespace winwarden
