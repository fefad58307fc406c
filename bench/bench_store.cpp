// The rule store's lookups against a full rule table: 100,000 rules, the size the monitor is
// built for (1000 lookups every 2 s). BM_FindByName looks up a stored title and reads its flag,
// BM_FindByNameMiss a title no rule has, BM_FindByNames1000 a cycle's worth, BM_InsertPassed
// records one new rule.
#include "store/flag.h"
#include "store/rulestore.h"
#include "store/schema.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <stdexcept>

using namespace winwarden;

namespace {

constexpr int kRules = 100'000;

QString Title(int i) {
    return QStringLiteral("页面 %1 - O'Brien 的 100% 新闻").arg(i);
}

// One database for every benchmark, filled in a single transaction.
const QString& FullDatabase() {
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = dir.filePath(QStringLiteral("winwarden.mdb"));
        CreateRuleDatabase(file);
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
            db.setDatabaseName(file);
            if (!db.open() || !db.transaction()) {
                throw std::runtime_error("cannot fill the bench database");
            }
            QSqlQuery insert(db);
            insert.prepare(
                QStringLiteral("INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES(?,?,?)"));
            for (int i = 0; i < kRules; ++i) {
                insert.bindValue(0, Title(i));
                insert.bindValue(1, i % 10 == 0 ? kFlagBlock : kFlagPass);
                insert.bindValue(2, QStringLiteral("http://site%1.example/").arg(i));
                if (!insert.exec()) {
                    throw std::runtime_error("cannot fill the bench database");
                }
            }
            db.commit();
            insert = QSqlQuery();
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("fill"));
        return file;
    }();
    return path;
}

void BM_FindByName(benchmark::State& state) {
    RuleStore store;
    store.Open(FullDatabase());
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.FindByName(Title(i)));
        i = (i + 7919) % kRules;
    }
}
BENCHMARK(BM_FindByName);

void BM_FindByNameMiss(benchmark::State& state) {
    RuleStore store;
    store.Open(FullDatabase());
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.FindByName(Title(kRules + i++)));
    }
}
BENCHMARK(BM_FindByNameMiss);

// One cycle's lookups: 1000 titles, one in ten without a rule. Asked again, the titles with a
// rule are known and only the others are looked up; with `fresh`, the store has changed a rule
// before every lookup, so all 1000 go into the one statement.
void FindByNames1000(benchmark::State& state, bool fresh) {
    RuleStore store;
    store.Open(FullDatabase());
    QStringList titles;
    for (int i = 0; i < 1000; ++i)
        titles.append(Title(i % 10 == 0 ? kRules + i : i * 97 % kRules));
    for (auto _ : state) {
        if (fresh) {
            state.PauseTiming();
            store.SetFlagByUrl(kFlagPass, QStringLiteral("http://nowhere.example/"));
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(store.FindByNames(titles));
    }
}
void BM_FindByNames1000(benchmark::State& state) {
    FindByNames1000(state, false);
}
BENCHMARK(BM_FindByNames1000)->Unit(benchmark::kMillisecond);
void BM_FindByNames1000Fresh(benchmark::State& state) {
    FindByNames1000(state, true);
}
BENCHMARK(BM_FindByNames1000Fresh)->Unit(benchmark::kMillisecond);

void BM_InsertPassed(benchmark::State& state) {
    RuleStore store;
    store.Open(FullDatabase());
    int i = 0;
    for (auto _ : state) {
        store.InsertPassed(Title(2 * kRules + i++), QStringLiteral("http://new.example/"));
    }
}
BENCHMARK(BM_InsertPassed)->Iterations(200);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
