#include "sources/devtools/targetlist.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

struct Entity {
    QStringView text;
    QChar character;
};

constexpr std::array<Entity, 5> kEntities{{
    {u"&amp;", u'&'},
    {u"&lt;", u'<'},
    {u"&gt;", u'>'},
    {u"&quot;", u'"'},
    {u"&#39;", u'\''},
}};

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

} // namespace

QString UnescapeTargetTitle(QStringView title) {
    QString result;
    result.reserve(title.size());
    qsizetype i = 0;
    while (i < title.size()) {
        if (title[i] == u'&') {
            const QStringView rest = title.mid(i);
            const auto entity =
                std::find_if(kEntities.begin(), kEntities.end(),
                             [&](const Entity& e) { return rest.startsWith(e.text); });
            if (entity != kEntities.end()) {
                result.append(entity->character);
                i += entity->text.size();
                continue;
            }
        }
        result.append(title[i]);
        ++i;
    }
    return result;
}

bool IsUrlStandInTitle(const QString& title, const QString& url) {
    if (title.isEmpty() || url.isEmpty()) {
        return false;
    }
    if (title == url) {
        return true;
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

std::optional<std::vector<DevToolsTarget>> DecodeTargetList(const QByteArray& answer) {
    const QJsonDocument document = QJsonDocument::fromJson(answer);
    if (!document.isArray()) {
        return std::nullopt;
    }
    const QJsonArray array = document.array();
    std::vector<DevToolsTarget> targets;
    targets.reserve(static_cast<size_t>(array.size()));
    for (const QJsonValue& value : array) {
        if (!value.isObject()) {
            continue;
        }
        const QJsonObject object = value.toObject();
        // A page controls its own title and the addresses of its frames: whatever it puts
        // there is cut to a sane length here, one entry at a time, so that it cannot make the
        // whole list unusable.
        DevToolsTarget target{
            object.value(u"id"_s).toString().left(kMaxIdChars),
            object.value(u"type"_s).toString().left(kMaxIdChars),
            UnescapeTargetTitle(
                QStringView(object.value(u"title"_s).toString()).left(kMaxTitleChars)),
            object.value(u"url"_s).toString().left(kMaxUrlChars)};
        if (IsUrlStandInTitle(target.title, target.url)) {
            target.title.clear();
        }
        targets.push_back(std::move(target));
    }
    return targets;
}

} // namespace winwarden
