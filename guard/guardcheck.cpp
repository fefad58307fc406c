#include "guard/guardcheck.h"

#include "guard/enforcecheck.h"
#include "platform/peercred.h"
#include "store/databasename.h"
#include "store/schema.h"
#include "store/storeerror.h"
#include "tools/systeminstall.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <cstdio>
#include <set>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

class Report final {
public:
    void Fine(const QString& line) { Print(u"正常："_s + line); }
    void Note(const QString& line) { Print(u"提示："_s + line); }
    void Problem(const QString& line) {
        Print(u"问题："_s + line);
        ++m_problems;
    }
    int Problems() const { return m_problems; }

private:
    static void Print(const QString& line) { std::fputs(qUtf8Printable(line + u'\n'), stdout); }
    int m_problems = 0;
};

// Who may own what the guard keeps: root, and the guard's system user where there is one.
std::set<uid_t> Keepers() {
    std::set<uid_t> keepers{0};
    if (const std::optional<uid_t> guard = SystemUserId(kGuardUser)) {
        keepers.insert(*guard);
    }
    return keepers;
}

// A folder or file of the guard's: owned by a keeper, and nobody else may do more than `mode`.
bool CheckOwnership(const QString& path, mode_t mode, Report& report) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        report.Problem(path + u" 不存在"_s);
        return false;
    }
    if (!Keepers().contains(info.st_uid)) {
        report.Problem(u"%1 属于 uid %2，不是 root 或 %3"_s.arg(path, QString::number(info.st_uid),
                                                                QLatin1StringView(kGuardUser)));
        return false;
    }
    if ((info.st_mode & 077 & ~mode) != 0) {
        report.Problem(u"%1 的权限是 %2，别的用户能做的超出了 %3"_s.arg(
            path, ModeText(info.st_mode), ModeText(mode)));
        return false;
    }
    return true;
}

void CheckService(Report& report) {
    if (!QFileInfo(u"/run/systemd/system"_s).isDir()) {
        report.Fine(u"这台机器没有由 systemd 管理：不检查 winwarden-guard.service"_s);
        return;
    }
    const auto ask = [](const QString& question) {
        QProcess systemctl;
        systemctl.start(u"systemctl"_s, {question, u"winwarden-guard.service"_s});
        systemctl.waitForFinished(10000);
        return QString::fromUtf8(systemctl.readAllStandardOutput()).trimmed();
    };
    const QString enabled = ask(u"is-enabled"_s);
    const QString active = ask(u"is-active"_s);
    if (enabled == "enabled"_L1 && active == "active"_L1) {
        report.Fine(u"winwarden-guard.service 已启用，正在运行"_s);
    } else {
        report.Problem(u"winwarden-guard.service：%1，%2（sudo systemctl enable --now "
                       u"winwarden-guard）"_s.arg(enabled, active));
    }
}

void CheckSocket(const QString& path, Report& report) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
        report.Problem(path + u" 不是套接字：守护程序没有运行"_s);
        return;
    }
    if ((info.st_mode & 0002) == 0) {
        report.Problem(path + u" 别的用户连不上"_s);
    }
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(1000)) {
        report.Problem(path + u" 没有应答：守护程序没有运行"_s);
        return;
    }
    const std::optional<PeerCredentials> peer = PeerOf(socket.socketDescriptor());
    if (!peer || !Keepers().contains(peer->uid)) {
        report.Problem(
            u"%1 上应答的不是守护程序（uid %2）"_s.arg(path).arg(peer ? qint64(peer->uid) : -1));
        return;
    }
    report.Fine(u"守护程序（pid %1，用户 %2）在 %3 上应答"_s.arg(peer->pid).arg(
        UserLabel(peer->uid), path));
}

void CheckSockets(const GuardPaths& paths, Report& report) {
    if (CheckOwnership(paths.runtimeDir, kRuntimeDirMode, report)) {
        report.Fine(paths.runtimeDir + u" 只有守护程序能写"_s);
    }
    // The browsers' hosts come to the one, the users' windows to the other.
    for (const QString& path : {paths.BridgeSocket(), paths.ControlSocket()}) {
        CheckSocket(path, report);
    }
}

void CheckRules(const GuardPaths& paths, Report& report) {
    QString error;
    const std::optional<QString> database = GuardDatabase(paths, &error);
    if (!database) {
        report.Problem(error);
        return;
    }
    const bool file = ParseDatabaseName(*database).engine == DatabaseLocation::Engine::Sqlite;
    if (file && (!CheckOwnership(QFileInfo(*database).path(), kStateDirMode, report) ||
                 !CheckOwnership(*database, kRuleFileMode, report))) {
        return;
    }
    try {
        CheckRuleDatabase(*database);
        report.Fine(u"规则库 %1 可用%2"_s.arg(DatabaseDisplayName(*database),
                                              file ? u"，只有守护程序能写"_s : QString()));
    } catch (const StoreError& failure) {
        report.Problem(u"规则库 %1：%2"_s.arg(DatabaseDisplayName(*database), failure.message()));
    }
}

void CheckPolicies(Report& report) {
    bool any = false;
    for (const QString& family : {u"chromium"_s, u"chrome"_s, u"firefox"_s}) {
        if (!SystemBrowserInstalled({}, family)) {
            continue;
        }
        any = true;
        const QStringList problems = SystemInstallProblems({}, family);
        for (const QString& problem : problems) {
            report.Problem(family + u"："_s + problem +
                           u"（sudo winwarden-browser install --system）"_s);
        }
        if (problems.isEmpty()) {
            report.Fine(family + u"：扩展由策略强制安装，系统主机清单就绪"_s);
        }
    }
    if (!any) {
        report.Problem(u"没有找到系统安装的 Chromium、Chrome 或 Firefox"_s);
    }
}

} // namespace

int RunGuardCheck(const GuardPaths& paths) {
    Report report;
    CheckService(report);
    CheckSockets(paths, report);
    CheckRules(paths, report);
    CheckPolicies(report);
    for (const EnforceCheckLine& line : CheckEnforcement(paths)) {
        switch (line.kind) {
        case EnforceCheckLine::Kind::Fine:
            report.Fine(line.text);
            break;
        case EnforceCheckLine::Kind::Note:
            report.Note(line.text);
            break;
        case EnforceCheckLine::Kind::Problem:
            report.Problem(line.text);
            break;
        }
    }
    if (report.Problems() > 0) {
        std::fprintf(stdout, "共 %d 个问题\n", report.Problems());
        return 1;
    }
    std::fputs("一切就绪\n", stdout);
    return 0;
}

} // namespace winwarden
