#include "sources/devtools/targetlist.h"

#include "survey/pagetitle.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <algorithm>
#include <array>
#include <simdjson.h>
#include <string_view>

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

QString TextField(simdjson::dom::element value) {
    std::string_view text;
    if (value.get_string().get(text) != simdjson::SUCCESS) {
        return {}; // a field that is not a string reads as empty
    }
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A page controls its own title and the addresses of its frames: whatever it puts there is
// cut to a sane length here, one entry at a time, so that it cannot make the whole list
// unusable.
DevToolsTarget Finished(DevToolsTarget target) {
    target.id.truncate(kMaxIdChars);
    target.type.truncate(kMaxIdChars);
    target.title.truncate(kMaxTitleChars);
    target.url.truncate(kMaxUrlChars);
    if (target.title.contains(u'&')) {
        target.title = UnescapeTargetTitle(target.title);
    }
    if (IsUrlStandInTitle(target.title, target.url)) {
        target.title.clear();
    }
    return target;
}

std::optional<std::vector<DevToolsTarget>> DecodeTargetListSlowly(const QByteArray& answer) {
    const QJsonDocument document = QJsonDocument::fromJson(answer);
    if (!document.isArray()) {
        return std::nullopt;
    }
    const QJsonArray array = document.array();
    std::vector<DevToolsTarget> targets;
    targets.reserve(static_cast<size_t>(array.size()));
    for (const QJsonValue& value : array) {
        if (value.isObject()) {
            const QJsonObject object = value.toObject();
            targets.push_back(
                Finished({object.value(u"id"_s).toString(), object.value(u"type"_s).toString(),
                          object.value(u"title"_s).toString(), object.value(u"url"_s).toString()}));
        }
    }
    return targets;
}

// Answers up to this size are parsed with one parser per thread that keeps its buffers
// between passes; a larger one gets buffers of its own, so that one hostile answer does not
// hold its memory for the rest of the run.
constexpr size_t kReusedParserBytes = 16 * 1024 * 1024;

} // namespace

QString UnescapeTargetTitle(QStringView title) {
    // Never longer than the title: written in place into a string of its length, cut after.
    QString result(title.size(), Qt::Uninitialized);
    QChar* out = result.data();
    qsizetype i = 0;
    while (i < title.size()) {
        const qsizetype amp = title.indexOf(u'&', i);
        const qsizetype stop = amp < 0 ? title.size() : amp;
        out = std::copy(title.begin() + i, title.begin() + stop, out);
        i = stop;
        if (i == title.size()) {
            break;
        }
        const QStringView rest = title.mid(i);
        const auto entity = std::find_if(kEntities.begin(), kEntities.end(),
                                         [&](const Entity& e) { return rest.startsWith(e.text); });
        if (entity != kEntities.end()) {
            *out++ = entity->character;
            i += entity->text.size();
        } else {
            *out++ = title[i++];
        }
    }
    result.truncate(out - result.constData());
    return result;
}

std::optional<std::vector<DevToolsTarget>> DecodeTargetList(const QByteArray& answer) {
    thread_local simdjson::dom::parser reused;
    simdjson::dom::parser ownParser;
    const auto size = static_cast<size_t>(answer.size());
    simdjson::dom::parser& parser = size <= kReusedParserBytes ? reused : ownParser;
    simdjson::dom::array array;
    if (parser.parse(answer.constData(), size).get_array().get(array) != simdjson::SUCCESS) {
        // simdjson is stricter than the JSON that browsers have been seen to send (a lone
        // surrogate escape, a byte-order mark, a raw control character): such an answer is
        // read the slow way rather than lost.
        return DecodeTargetListSlowly(answer);
    }
    std::vector<DevToolsTarget> targets;
    targets.reserve(array.size());
    for (const simdjson::dom::element value : array) {
        simdjson::dom::object object;
        if (value.get_object().get(object) != simdjson::SUCCESS) {
            continue;
        }
        // Of a field given twice the last one counts, as with Qt's reader.
        DevToolsTarget target;
        for (const simdjson::dom::key_value_pair field : object) {
            if (field.key == "id") {
                target.id = TextField(field.value);
            } else if (field.key == "type") {
                target.type = TextField(field.value);
            } else if (field.key == "title") {
                target.title = TextField(field.value);
            } else if (field.key == "url") {
                target.url = TextField(field.value);
            }
        }
        targets.push_back(Finished(std::move(target)));
    }
    return targets;
}

} // namespace winwarden
