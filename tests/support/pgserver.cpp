#include "tests/support/pgserver.h"

#include "store/connection.h"
#include "store/schema.h"

#include <QFile>
#include <QSqlQuery>
#include <QTcpServer>
#include <QThread>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <unistd.h>

namespace winwarden::test {

using namespace Qt::StringLiterals;

namespace {

const QString kBin = u"/usr/lib/postgresql/15/bin/"_s;

const char kHba[] =
    "local all postgres trust\nlocal all all scram-sha-256\n"
    "host all postgres 127.0.0.1/32 trust\nhost all all 127.0.0.1/32 scram-sha-256\n";

int FreeLoopbackPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        throw std::runtime_error("no free loopback port");
    return probe.serverPort();
}

} // namespace

PgServer::PgServer() : m_port(FreeLoopbackPort()) {
    // initdb and the server refuse to run as root; the tests run as root.
    const passwd* account = ::getpwnam("postgres");
    if (!m_dir.isValid() || account == nullptr ||
        ::chown(QFile::encodeName(m_dir.path()).constData(), account->pw_uid, account->pw_gid))
        throw std::runtime_error("cannot hand a temporary folder to postgres");
    m_server.setChildProcessModifier([uid = account->pw_uid, gid = account->pw_gid] {
        if (::setgroups(0, nullptr) || ::setgid(gid) || ::setuid(uid))
            ::_exit(126);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // should this process die without its destructors
    });
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.start(kBin + u"initdb"_s,
                   {u"-D"_s, m_dir.filePath(u"data"_s), u"-U"_s, u"postgres"_s, u"-A"_s, u"trust"_s,
                    u"-E"_s, u"UTF8"_s, u"--locale=C.UTF-8"_s, u"--no-sync"_s});
    if (!m_server.waitForFinished(60000) || m_server.exitCode() != 0)
        throw std::runtime_error("initdb: " + m_server.readAll().toStdString());
    QFile hba(m_dir.filePath(u"data/pg_hba.conf"_s));
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) || hba.write(kHba) < 0)
        throw std::runtime_error("cannot write pg_hba.conf");
    hba.close();
    Start();
    Admin(u"CREATE ROLE station LOGIN PASSWORD '%1'"_s.arg(QLatin1String(kPassword)),
          u"postgres"_s);
    qputenv("PGPASSWORD", kPassword);
}

PgServer::~PgServer() {
    Stop();
}

void PgServer::Start() {
    m_server.setStandardOutputFile(m_dir.filePath(u"log"_s), QIODevice::Append);
    m_server.start(kBin + u"postgres"_s,
                   {u"-D"_s, m_dir.filePath(u"data"_s), u"-k"_s, m_dir.path(), u"-p"_s,
                    QString::number(m_port), u"-c"_s, u"listen_addresses=127.0.0.1"_s, u"-c"_s,
                    u"fsync=off"_s, u"-c"_s, u"full_page_writes=off"_s});
    const QStringList ready{u"-q"_s, u"-h"_s, m_dir.path(), u"-p"_s, QString::number(m_port)};
    for (int i = 0; i < 300 && m_server.state() != QProcess::NotRunning; ++i) {
        if (QProcess::execute(kBin + u"pg_isready"_s, ready) == 0)
            return;
        QThread::msleep(100);
    }
    QFile log(m_dir.filePath(u"log"_s));
    log.open(QIODevice::ReadOnly);
    throw std::runtime_error("the server did not start: " + log.readAll().toStdString());
}

void PgServer::Stop() {
    if (m_server.state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(m_server.processId()), SIGQUIT); // immediate, as in a crash
    m_server.waitForFinished(30000);
}

QString PgServer::Uri(const QString& database, const QString& user, bool tcp) const {
    if (tcp)
        return u"postgresql://%1@127.0.0.1:%2/%3"_s.arg(user).arg(m_port).arg(database);
    return u"postgresql://%1@/%2?host=%3&port=%4"_s.arg(user, database, m_dir.path()).arg(m_port);
}

QString PgServer::NewRuleDatabase() {
    const QString name = u"rules%1"_s.arg(++m_databases);
    Admin(u"CREATE DATABASE %1 OWNER station"_s.arg(name), u"postgres"_s);
    CreateRuleDatabase(Uri(name));
    return name;
}

QString PgServer::Admin(const QString& sql, const QString& database) const {
    const RunOutcome psql =
        RunProgram(kBin + u"psql"_s, {u"-XAtq"_s, u"-v"_s, u"ON_ERROR_STOP=1"_s, u"-c"_s, sql,
                                      Uri(database, u"postgres"_s)});
    if (psql.code != 0)
        throw std::runtime_error(sql.toStdString() + ": " + psql.err.toStdString());
    return psql.out.section(u'\n', 0, 0);
}

PgRuleDb::PgRuleDb(PgServer& server, bool tcp) : RuleDb(u"1"_s) {
    const QString database = server.NewRuleDatabase();
    m_uri = server.Uri(database, u"station"_s, tcp);
    // As the superuser acting as "station", so that cutting the station's connections spares it.
    m_db = OpenPostgres(UniqueConnectionName("testdb"),
                        ParseDatabaseName(server.Uri(database, u"postgres"_s)));
    QSqlQuery role(m_db);
    if (!role.exec(u"SET ROLE station"_s))
        throw ErrorFrom(role.lastError());
}

PgRuleDb::~PgRuleDb() {
    CloseDatabase(m_db);
}

} // namespace winwarden::test
