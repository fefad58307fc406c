// winwarden-db: creates a rule database for winwarden, or checks that one is usable.

#include "store/schema.h"
#include "store/storeerror.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

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

int Usage(FILE* stream = stderr) {
    Print(stream, QStringLiteral("用法: winwarden-db create|check [文件]（默认 winwarden.mdb）"));
    return stream == stderr ? kExitUsage : 0;
}

int Run(const QStringList& args) {
    if (args.size() == 2 &&
        (args.at(1) == QLatin1String("-h") || args.at(1) == QLatin1String("--help"))) {
        return Usage(stdout);
    }
    if (args.size() < 2 || args.size() > 3) {
        return Usage();
    }
    const QString& command = args.at(1);
    const QString file = args.size() == 3 ? args.at(2) : QStringLiteral("winwarden.mdb");
    // An option where the file belongs is a mistake, not a file to create ("./-x" names one).
    if (file.isEmpty() || file.startsWith(QLatin1Char('-'))) {
        return Usage();
    }
    try {
        if (command == QLatin1String("create")) {
            CreateRuleDatabase(file);
            Print(stdout, QStringLiteral("已创建规则数据库 %1").arg(file));
            return 0;
        }
        if (command == QLatin1String("check")) {
            CheckRuleDatabase(file);
            Print(stdout, QStringLiteral("ok: %1 是可用的规则数据库").arg(file));
            return 0;
        }
    } catch (const StoreError& error) {
        Print(stderr, QStringLiteral("%1: %2").arg(file, error.message()));
        return kExitFailure;
    }
    return Usage();
}

} // namespace

} // namespace winwarden

int main(int argc, char* argv[]) {
    const QCoreApplication app(argc, argv);
    return winwarden::Run(QCoreApplication::arguments());
}
