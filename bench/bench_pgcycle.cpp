// One monitor cycle against a full rule table (100,000 rules, 1000 open pages, one in ten of
// them blocked) over SQLite and over a PostgreSQL server reached by loopback TCP, in one run.
// The server is a private one that the test fixture starts. Goal: under 20 ms on the server.
#include "engine/monitorengine.h"
#include "store/flag.h"
#include "store/rulecopy.h"
#include "store/schema.h"
#include "tests/support/pgserver.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <atomic>
#include <benchmark/benchmark.h>
#include <stdexcept>

using namespace winwarden;

namespace {

constexpr int kRules = 100'000;
constexpr int kPages = 1'000;
constexpr int kBlockEvery = 10;

QString Title(int i) {
    return QStringLiteral("页面 %1 - O'Brien 的 100% 新闻").arg(i);
}

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(what);
}

class Pages final : public BrowserSource {
public:
    BrowserPass pass;
    std::atomic<int> closes{0};
    BrowserPass TakePass() override { return pass; }
    void RequestClose(const WindowHandle&) override { ++closes; }
};

// The SQLite file, filled once; the server's table gets a copy of it.
const QString& SqliteRules() {
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = dir.filePath(QStringLiteral("winwarden.mdb"));
        CreateRuleDatabase(file);
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
            db.setDatabaseName(file);
            Check(db.open() && db.transaction(), "open");
            QSqlQuery insert(db);
            Check(insert.prepare(QStringLiteral(
                      "INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES(?,?,?)")),
                  "prepare");
            for (int i = 0; i < kRules; ++i) {
                insert.bindValue(0, Title(i));
                insert.bindValue(1, i % kBlockEvery == 0 ? kFlagBlock : kFlagPass);
                insert.bindValue(2, QStringLiteral("http://site%1.example/path?q=%1").arg(i));
                Check(insert.exec(), "insert");
            }
            Check(db.commit(), "commit");
        }
        QSqlDatabase::removeDatabase(QStringLiteral("fill"));
        return file;
    }();
    return path;
}

const QString& ServerRules() {
    static test::PgServer server;
    static test::PgRuleDb db(server, true);
    static const QString uri = [] {
        CopyRules(SqliteRules(), db.name());
        db.exec(QStringLiteral("ANALYZE 窗口名表"));
        return db.name();
    }();
    return uri;
}

// Pages spread over the table, one in ten of them blocked.
BrowserPass OpenPages() {
    BrowserPass pass;
    pass.browsersWatched = pass.browsersRead = 1;
    for (int i = 0; i < kPages; ++i) {
        const int id = i * (kRules / kPages) + i % kBlockEvery;
        pass.windows.push_back({BrowserWindow::Kind::HtmlDocument,
                                Title(id),
                                QStringLiteral("http://site%1.example/").arg(id),
                                {-1, QStringLiteral("bench"), QString::number(id)},
                                QStringLiteral("chromium")});
    }
    return pass;
}

void BM_Cycle(benchmark::State& state) {
    auto* pages = new Pages;
    MonitorEngine engine{std::unique_ptr<BrowserSource>(pages)};
    engine.OpenStore(state.range(0) == 0 ? SqliteRules() : ServerRules());
    const BrowserPass pass = OpenPages();
    engine.RunCycle(pass); // warm the caches and the prepared statements
    engine.WaitForCloseRequests();
    pages->closes = 0;
    for (auto _ : state)
        engine.RunCycle(pass);
    engine.WaitForCloseRequests();
    Check(engine.Status().storeFailure.isEmpty(), "the store failed");
    state.counters["closes/cycle"] =
        benchmark::Counter(pages->closes, benchmark::Counter::kAvgIterations);
    state.SetLabel(state.range(0) == 0 ? "sqlite" : "postgresql over loopback");
}

} // namespace

BENCHMARK(BM_Cycle)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
