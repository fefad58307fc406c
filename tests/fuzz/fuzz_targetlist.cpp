// Any bytes a browser endpoint may answer, through the target-list decoder, the DevTools source
// and a snapshot pass.
#include "sources/devtools/devtoolssource.h"
#include "sources/devtools/targetlist.h"
#include "survey/browsersnapshot.h"
#include "survey/pagetitle.h"
#include "survey/shellwindows.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstddef>
#include <cstdint>

using namespace winwarden;

namespace {

// The list as Qt's JSON reader sees it: the fast reader must never see another one.
std::optional<std::vector<DevToolsTarget>> ReadWithQt(const QByteArray& answer) {
    const QJsonDocument document = QJsonDocument::fromJson(answer);
    if (!document.isArray())
        return std::nullopt;
    std::vector<DevToolsTarget> targets;
    for (const QJsonValue& value : document.array()) {
        const QJsonObject object = value.toObject();
        if (!value.isObject())
            continue;
        const auto field = [&](const char* key, qsizetype max) {
            return object.value(QLatin1StringView(key)).toString().left(max);
        };
        DevToolsTarget target{field("id", kMaxIdChars), field("type", kMaxIdChars),
                              UnescapeTargetTitle(field("title", kMaxTitleChars)),
                              field("url", kMaxUrlChars)};
        if (IsUrlStandInTitle(target.title, target.url))
            target.title.clear();
        targets.push_back(std::move(target));
    }
    return targets;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray answer(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const QString text = QString::fromUtf8(answer);
    if (UnescapeTargetTitle(text).size() > text.size())
        __builtin_trap(); // unescaping never lengthens a title
    const auto targets = DecodeTargetList(answer);
    if (targets != ReadWithQt(answer))
        __builtin_trap();
    const std::unique_ptr<BrowserSource> source =
        MakeDevToolsSource([] { return QStringList{QStringLiteral("127.0.0.1:9222")}; },
                           [&](const QString&) { return std::optional{answer}; },
                           [](const QString&, const QString&) {});
    const BrowserPass pass = source->TakePass();
    static BrowserSnapshot snapshot;
    TakeBrowserSnapshot(ShellWindows(pass), snapshot);
    const int expected = targets ? static_cast<int>(targets->size()) : 0;
    if (snapshot.count != expected || pass.Read() != targets.has_value())
        __builtin_trap();
    for (const DevToolsTarget& target : targets.value_or(std::vector<DevToolsTarget>{}))
        if (target.id.size() > kMaxIdChars || target.title.size() > kMaxTitleChars ||
            target.url.size() > kMaxUrlChars)
            __builtin_trap();
    return 0;
}
