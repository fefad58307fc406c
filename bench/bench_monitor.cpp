// One monitor cycle at scale: 1000 open pages, 100,000 stored rules, 10,000 listed windows.
// BM_MonitorCycle runs the view's own cycle; BM_MonitorCycleNaive does the same work the
// literal way (unindexed table, a fresh statement text per lookup, a row-by-row list scan),
// which is what the view's index and prepared statements are there to beat.
#include "monitor/winwardenview.h"
#include "platform/toplevelwindows.h"
#include "res/texts.h"
#include "store/flag.h"
#include "store/schema.h"
#include "survey/browsersnapshot.h"
#include "survey/shellwindows.h"

#include <QApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>
#include <stdexcept>

using namespace winwarden;

namespace {

constexpr int kRules = 100'000;
constexpr int kListed = 10'000;
constexpr int kPages = 1'000;
constexpr int kBlockEvery = 10; // every tenth rule blocks

QString Title(int i) {
    return QStringLiteral("页面 %1 - O'Brien 的 100% 新闻").arg(i);
}
QString Url(int i) {
    return QStringLiteral("http://site%1.example/path?q=%1").arg(i);
}
QString FlagOf(int i) {
    return i % kBlockEvery == 0 ? kFlagBlock : kFlagPass;
}

class Pages final : public ShellWindows {
public:
    QList<int> ids;
    bool Create() override { return true; }
    int Count() override { return static_cast<int>(ids.size()); }
    Item ItemAt(int position) override {
        const int i = ids.at(position);
        return Item{Item::Kind::HtmlDocument, Title(i), Url(i)};
    }
};

class Windows final : public TopLevelWindows {
public:
    int closes = 0;
    std::optional<WindowHandle> FindByCaption(const QString& caption) override {
        return WindowHandle{QStringLiteral("bench"), caption};
    }
    void RequestClose(const WindowHandle&) override { ++closes; }
};

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(what);
}

// A rule database of kRules rows at `path`; with `indexed` false, a bare table without indexes.
void FillRules(const QString& path, bool indexed) {
    if (indexed) {
        CreateRuleDatabase(path);
    }
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(path);
        Check(db.open(), "open");
        QSqlQuery query(db);
        if (!indexed) {
            Check(
                query.exec(QStringLiteral(
                    "CREATE TABLE 窗口名表 (编号 INTEGER PRIMARY KEY AUTOINCREMENT, 窗口名称 TEXT, "
                    "是否禁止 TEXT, 网址 TEXT)")),
                "create");
        }
        Check(db.transaction(), "begin");
        Check(query.prepare(
                  QStringLiteral("INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES(?,?,?)")),
              "prepare");
        for (int i = 0; i < kRules; ++i) {
            query.bindValue(0, Title(i));
            query.bindValue(1, FlagOf(i));
            query.bindValue(2, Url(i));
            Check(query.exec(), "insert");
        }
        Check(db.commit(), "commit");
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
}

// The open pages are spread over the list, so a scan finds them anywhere in it; one in ten
// of them is blocked, as a page that closes and is opened again would be.
QList<int> OpenPages() {
    QList<int> ids;
    for (int i = 0; i < kPages; ++i)
        ids.append(i * (kListed / kPages) + i % kBlockEvery);
    return ids;
}

void BM_MonitorCycle(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("winwarden.mdb"));
    FillRules(path, true);
    Pages pages;
    Windows windows;
    auto snapshot = std::make_unique<BrowserSnapshot>();
    MonitorServices services{&pages, &windows, snapshot.get(), path};
    CWinwardenView view(nullptr, services);
    view.OnStart();
    // List kListed windows, a snapshot's worth at a time.
    for (int first = 0; first < kListed; first += kPages) {
        pages.ids.clear();
        for (int i = first; i < first + kPages; ++i)
            pages.ids.append(i);
        view.OnTimer(CWinwardenView::kMonitorTimerId);
    }
    Check(view.ListControl()->rowCount() == kListed, "list filled");
    pages.ids = OpenPages();
    windows.closes = 0;
    for (auto _ : state)
        view.OnTimer(CWinwardenView::kMonitorTimerId);
    Check(view.ListControl()->rowCount() == kListed, "nothing new listed");
    state.counters["closes/cycle"] =
        benchmark::Counter(windows.closes, benchmark::Counter::kAvgIterations);
    view.OnStop();
}

QString Quoted(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

void BM_MonitorCycleNaive(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("naive.mdb"));
    FillRules(path, false);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("naive"));
    db.setDatabaseName(path);
    Check(db.open(), "open");
    Pages pages;
    pages.ids = OpenPages();
    Windows windows;
    auto snapshot = std::make_unique<BrowserSnapshot>();
    QTableWidget list(0, 3);
    for (int i = 0; i < kListed; ++i) {
        list.insertRow(i);
        list.setItem(i, 0, new QTableWidgetItem(Title(i) + text::kCaptionSuffix));
        list.setItem(i, 1, new QTableWidgetItem(kFlagPass));
        list.setItem(i, 2, new QTableWidgetItem(Url(i)));
    }

    for (auto _ : state) {
        TakeBrowserSnapshot(pages, *snapshot);
        for (int i = 0; i < snapshot->count; ++i) {
            const QString& title = snapshot->titles[static_cast<std::size_t>(i)];
            const QString& url = snapshot->urls[static_cast<std::size_t>(i)];
            if (title.isEmpty())
                continue;
            {
                QSqlQuery find(db);
                Check(find.exec(QStringLiteral("SELECT * FROM 窗口名表 WHERE 窗口名称=") +
                                Quoted(title)),
                      "find");
                if (!find.next()) {
                    QSqlQuery insert(db);
                    Check(
                        insert.exec(QStringLiteral("INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) "
                                                   "VALUES(%1,%2,%3)")
                                        .arg(Quoted(title), Quoted(kFlagPass), Quoted(url))),
                        "insert");
                } else if (!find.isNull(1) && !find.isNull(2) &&
                           IsBlockingFlag(find.value(2).toString())) {
                    if (auto window = windows.FindByCaption(title + text::kCaptionSuffix))
                        windows.RequestClose(*window);
                }
            }
            const QString caption = title + text::kCaptionSuffix;
            bool listed = false;
            for (int r = 0; r < list.rowCount() && !listed; ++r)
                listed = list.item(r, 0)->text() == caption;
            if (!listed) {
                const int row = list.rowCount();
                list.insertRow(row);
                list.setItem(row, 0, new QTableWidgetItem(caption));
                list.setItem(row, 1, new QTableWidgetItem(kFlagPass));
                list.setItem(row, 2, new QTableWidgetItem(url));
            }
        }
    }
    Check(list.rowCount() == kListed, "nothing new listed");
    state.counters["closes/cycle"] =
        benchmark::Counter(windows.closes, benchmark::Counter::kAvgIterations);
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("naive"));
}

BENCHMARK(BM_MonitorCycle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitorCycleNaive)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
