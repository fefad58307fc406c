// winwarden-db: creates a rule database for winwarden, checks that one is usable, copies the
// rules from one to another (a SQLite file or a table on a PostgreSQL server), or moves them
// out to a CSV file and back in.

#include "res/version.h"
#include "store/databasename.h"
#include "store/rulecopy.h"
#include "store/rulecsv.h"
#include "store/schema.h"
#include "store/storeerror.h"
#include "tools/visitcommands.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <cstdio>
#include <functional>

namespace winwarden {

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Every message is one line, whatever the file name holds.
QString OneLine(QString text) {
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control) {
            c = QLatin1Char('?');
        }
    }
    return text;
}

void Print(FILE* stream, const QString& text) {
    std::fputs(OneLine(text).toUtf8().append('\n').constData(), stream);
}

// A subcommand: its databases (all of them named, or none for the default), and what it does
// with them; the answer is the line printed on success.
struct Command {
    const char* name;
    int databases;
    bool defaultable;
    std::function<QString(const QStringList& names, const QStringList& shown)> run;
};

const Command kCommands[] = {
    {"create", 1, true,
     [](const QStringList& names, const QStringList& shown) {
         CreateRuleDatabase(names[0]);
         return QStringLiteral("已创建规则数据库 %1").arg(shown[0]);
     }},
    {"check", 1, true,
     [](const QStringList& names, const QStringList& shown) {
         CheckRuleDatabase(names[0]);
         return QStringLiteral("ok: %1 是可用的规则数据库").arg(shown[0]);
     }},
    {"copy", 2, false,
     [](const QStringList& names, const QStringList& shown) {
         const int copied = CopyRules(names[0], names[1]);
         return QStringLiteral("已从 %1 复制 %2 条规则到 %3")
             .arg(shown[0])
             .arg(copied)
             .arg(shown[1]);
     }},
    {"export", 2, true,
     [](const QStringList& names, const QStringList& shown) {
         const std::vector<Rule> rules = ReadAllRules(names[1]);
         const std::vector<MatchRuleRow> matches = ReadAllMatchRules(names[1]);
         QSaveFile file(names[0]);
         if (!file.open(QIODevice::WriteOnly) || file.write(WriteRulesCsv(rules, matches)) < 0 ||
             !file.commit()) {
             throw StoreError(QStringLiteral("write"), file.errorString());
         }
         return QStringLiteral("已把 %1 条规则导出到 %2")
             .arg(rules.size() + matches.size())
             .arg(shown[0]);
     }},
    {"import", 2, true,
     [](const QStringList& names, const QStringList& shown) {
         QFile file(names[0]);
         if (!file.open(QIODevice::ReadOnly)) {
             throw StoreError(QStringLiteral("read"), file.errorString());
         }
         QString error;
         const auto rules = ReadRulesCsv(file.readAll(), &error);
         if (!rules) {
             throw StoreError(QStringLiteral("csv"), error);
         }
         const ImportCounts counts = ImportRules(names[1], rules->titles, rules->matches);
         return QStringLiteral("已导入到 %1：新增 %2 条，修改 %3 条，跳过 %4 条")
             .arg(shown[1])
             .arg(counts.added)
             .arg(counts.changed)
             .arg(counts.skipped);
     }},
};

int Usage(FILE* stream = stderr) {
    Print(stream,
          QStringLiteral("用法: winwarden-db create|check [数据库] | copy 来源 目标 | "
                         "export|import 文件.csv [数据库] | ") +
              VisitCommandsUsage() +
              QStringLiteral("（数据库是文件或 postgresql:// 地址；默认 WINWARDEN_DATABASE，"
                             "未设置时 winwarden.mdb）"));
    return stream == stderr ? kExitUsage : 0;
}

int Run(const QStringList& args) {
    if (args.size() == 2 &&
        (args.at(1) == QLatin1String("-h") || args.at(1) == QLatin1String("--help"))) {
        return Usage(stdout);
    }
    if (args.size() < 2) {
        return Usage();
    }
    if (args.at(1) == QLatin1String("history") || args.at(1) == QLatin1String("report")) {
        QString shown;
        try {
            const std::optional<QString> done = RunVisitCommand(args.at(1), args.mid(2), &shown);
            if (!done) {
                return Usage();
            }
            Print(stdout, *done);
            return 0;
        } catch (const StoreError& error) {
            Print(stderr, QStringLiteral("%1: %2").arg(shown, error.message()));
            return kExitFailure;
        }
    }
    const Command* command = nullptr;
    for (const Command& candidate : kCommands) {
        if (args.at(1) == QLatin1String(candidate.name)) {
            command = &candidate;
        }
    }
    if (command == nullptr) {
        return Usage();
    }
    QStringList names = args.mid(2);
    // The last database may be left out: WINWARDEN_DATABASE or winwarden.mdb stands for it.
    if (names.size() == command->databases - 1 && command->defaultable) {
        names.append(DatabaseNameFromEnvironment());
    }
    if (names.size() != command->databases) {
        return Usage();
    }
    QStringList shown;
    for (const QString& name : names) {
        // An option where a database belongs is a mistake, not a file ("./-x" names one).
        if (name.isEmpty() || name.startsWith(QLatin1Char('-'))) {
            return Usage();
        }
        shown.append(DatabaseDisplayName(name));
    }
    try {
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (ParseDatabaseName(names[i]).passwordDropped) {
                Print(stderr, QStringLiteral("%1: 地址中的密码不会使用，请把它放在 ~/.pgpass 或 "
                                             "PGPASSWORD 中")
                                  .arg(shown[i]));
            }
        }
        Print(stdout, command->run(names, shown));
        return 0;
    } catch (const StoreError& error) {
        Print(stderr,
              QStringLiteral("%1: %2").arg(shown.join(QStringLiteral(" → ")), error.message()));
        return kExitFailure;
    }
}

} // namespace

} // namespace winwarden

int main(int argc, char* argv[]) {
    if (winwarden::res::PrintVersionIfAsked(argc, argv, "winwarden-db")) {
        return 0;
    }
    const QCoreApplication app(argc, argv);
    return winwarden::Run(QCoreApplication::arguments());
}
