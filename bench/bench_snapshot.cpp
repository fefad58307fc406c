// One snapshot pass through the DevTools source over a canned answer of 1000 targets,
// decoding included, no network.
#include "sources/devtools/devtoolssource.h"
#include "sources/devtools/targetlist.h"
#include "survey/browsersnapshot.h"
#include "survey/pagetitle.h"
#include "survey/shellwindows.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;
using namespace winwarden;

namespace {

// Shaped like Chromium's own /json/list answer: every field it sends, titles escaped.
QByteArray CannedTargetList(int targets) {
    QJsonArray list;
    for (int i = 0; i < targets; ++i) {
        const QString id = u"%1"_s.arg(i, 32, 16, QLatin1Char('0')).toUpper();
        list.append(QJsonObject{
            {u"description"_s, QString()},
            {u"devtoolsFrontendUrl"_s,
             u"https://chrome-devtools-frontend.appspot.com/serve_rev/@1a2e4e6f/"
             "inspector.html?ws=127.0.0.1:9222/devtools/page/"_s +
                 id},
            {u"id"_s, id},
            {u"title"_s, u"O&#39;Brien &amp; Sons 测试页 &lt;%1&gt;"_s.arg(i)},
            {u"type"_s, i % 10 == 9 ? u"service_worker"_s : u"page"_s},
            {u"url"_s, u"https://www.example.com/catalogue/item?id=%1&lang=zh-CN"_s.arg(i)},
            {u"webSocketDebuggerUrl"_s, u"ws://127.0.0.1:9222/devtools/page/"_s + id},
        });
    }
    return QJsonDocument(list).toJson();
}

void BM_SnapshotPass(benchmark::State& state) {
    const QByteArray answer = CannedTargetList(1000);
    const std::unique_ptr<BrowserSource> source =
        MakeDevToolsSource([] { return QStringList{u"127.0.0.1:9222"_s}; },
                           [&](const QString&) { return std::optional{answer}; },
                           [](const QString&, const QString&) {});
    const auto snapshot = std::make_unique<BrowserSnapshot>();
    for (auto _ : state) {
        const BrowserPass pass = source->TakePass();
        TakeBrowserSnapshot(ShellWindows(pass), *snapshot);
        benchmark::DoNotOptimize(snapshot->count);
    }
    if (snapshot->count != 1000) {
        state.SkipWithError("the pass did not read 1000 targets");
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    state.SetBytesProcessed(state.iterations() * answer.size());
}

// The same pass with the list read by Qt's JSON reader, as before simdjson.
BrowserPass QtJsonPass(const QByteArray& answer) {
    BrowserPass pass;
    pass.browsersWatched = pass.browsersRead = 1;
    const QJsonArray array = QJsonDocument::fromJson(answer).array();
    pass.windows.reserve(static_cast<size_t>(array.size()));
    for (const QJsonValue& value : array) {
        const QJsonObject object = value.toObject();
        const bool page = object.value(u"type"_s).toString() == u"page"_s;
        QString title = UnescapeTargetTitle(
            QStringView(object.value(u"title"_s).toString()).left(kMaxTitleChars));
        QString url = object.value(u"url"_s).toString().left(kMaxUrlChars);
        if (IsUrlStandInTitle(title, url)) {
            title.clear();
        }
        pass.windows.push_back(BrowserWindow{
            page ? BrowserWindow::Kind::HtmlDocument : BrowserWindow::Kind::NoHtmlDocument,
            page ? title : QString(), page ? url : QString(),
            WindowHandle{-1, u"127.0.0.1:9222"_s,
                         object.value(u"id"_s).toString().left(kMaxIdChars)},
            QString()});
    }
    return pass;
}

void BM_SnapshotPassQtJson(benchmark::State& state) {
    const QByteArray answer = CannedTargetList(1000);
    const auto snapshot = std::make_unique<BrowserSnapshot>();
    for (auto _ : state) {
        const BrowserPass pass = QtJsonPass(answer);
        TakeBrowserSnapshot(ShellWindows(pass), *snapshot);
        benchmark::DoNotOptimize(snapshot->count);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    state.SetBytesProcessed(state.iterations() * answer.size());
}

} // namespace

BENCHMARK(BM_SnapshotPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnapshotPassQtJson)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
