#include "survey/pagetitle.h"

#include <QUrl>
#include <algorithm>
#include <array>
#include <utility>

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

bool IsBrowserPage(const QString& url) {
    // The schemes browsers keep for their own pages; a page cannot give itself one of these.
    static const std::array<QLatin1StringView, 19> kSchemes{"about"_L1,
                                                            "chrome"_L1,
                                                            "chrome-extension"_L1,
                                                            "chrome-untrusted"_L1,
                                                            "chrome-search"_L1,
                                                            "chrome-error"_L1,
                                                            "devtools"_L1,
                                                            "edge"_L1,
                                                            "extension"_L1,
                                                            "brave"_L1,
                                                            "vivaldi"_L1,
                                                            "opera"_L1,
                                                            "moz-extension"_L1,
                                                            "resource"_L1,
                                                            "view-source"_L1,
                                                            "isolated-app"_L1,
                                                            "chrome-devtools"_L1,
                                                            "edge-extension"_L1,
                                                            "jar"_L1};
    const qsizetype colon = url.indexOf(u':');
    if (colon <= 0) {
        return true; // no address at all: a tab that shows nothing yet
    }
    const QStringView scheme = QStringView(url).left(colon);
    return std::any_of(kSchemes.begin(), kSchemes.end(), [&](QLatin1StringView known) {
        return scheme.compare(known, Qt::CaseInsensitive) == 0;
    });
}

QString BrowserCaption(const QString& title, const QString& family) {
    static const std::array<std::pair<QLatin1StringView, QString>, 7> kSuffixes{{
        {"chromium"_L1, u" - Chromium"_s},
        {"chrome"_L1, u" - Google Chrome"_s},
        {"edge"_L1, u" - Microsoft Edge"_s},
        {"brave"_L1, u" - Brave"_s},
        {"vivaldi"_L1, u" - Vivaldi"_s},
        {"opera"_L1, u" - Opera"_s},
        {"firefox"_L1, u" \u2014 Mozilla Firefox"_s},
    }};
    for (const auto& [known, suffix] : kSuffixes) {
        if (family == known) {
            return title + suffix;
        }
    }
    return title;
}

} // namespace winwarden
