#include "guard/enforcecheck.h"

#include "control/controlaccess.h"
#include "enforce/protection.h"
#include "guard/guardenforcer.h"

#include <QFile>
#include <QFileInfo>
#include <pwd.h>
#include <sys/statvfs.h>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

// The accounts of people (not system users) whom `users` protects, with their homes.
std::vector<std::pair<QString, QString>> ProtectedPeople(const ProtectedUsers& users) {
    std::vector<std::pair<QString, QString>> people;
    ::setpwent();
    while (const passwd* user = ::getpwent()) {
        if (user->pw_uid >= 1000 && user->pw_uid < 60000 && users.Protects(user->pw_uid)) {
            people.emplace_back(QFile::decodeName(user->pw_name), QFile::decodeName(user->pw_dir));
        }
    }
    ::endpwent();
    return people;
}

} // namespace

std::vector<EnforceCheckLine> CheckEnforcement(const GuardPaths& paths) {
    using Kind = EnforceCheckLine::Kind;
    std::vector<EnforceCheckLine> lines;
    QString error;
    const std::optional<EnforceSettings> settings = ReadEnforceSettings(paths.config, &error);
    if (!settings) {
        return {{Kind::Problem, error}};
    }
    if (!settings->enforce) {
        lines.push_back(
            {Kind::Note, u"enforce = off：没有连上浏览哨兵扩展的浏览器只会被报告，不会被关闭"_s});
    } else {
        lines.push_back({Kind::Fine, u"没有连上浏览哨兵扩展的浏览器在 %1 秒后会被关闭"_s.arg(
                                         settings->grace.count())});
    }
    const ProtectedUsers users(settings->protect, QString::fromLatin1(kAdministratorsGroup));
    const auto people = ProtectedPeople(users);
    QStringList names;
    for (const auto& [name, home] : people) {
        names.append(name);
    }
    const QString who =
        settings->protect.isEmpty()
            ? u"除 root 和 %1 组成员以外的所有用户"_s.arg(QLatin1StringView(kAdministratorsGroup))
            : settings->protect.join(u'、');
    lines.push_back({Kind::Fine, u"受保护的用户：%1（现有帐户：%2）"_s.arg(
                                     who, names.isEmpty() ? u"无"_s : names.join(u'、'))});
    for (const QString& unknown : users.Unknown()) {
        lines.push_back({Kind::Problem, u"protect = %1：没有这个用户或组"_s.arg(unknown)});
    }
    const auto protects = [&](uid_t uid) {
        return users.Protects(uid);
    };
    for (const QString& program : settings->allow) {
        const QString real = QFileInfo(program).canonicalFilePath();
        if (real.isEmpty()) {
            lines.push_back({Kind::Problem, u"allow = %1：文件不存在"_s.arg(program)});
        } else if (!IsTrustedProgram(real, {program}, protects)) {
            lines.push_back(
                {Kind::Problem,
                 u"allow = %1：受保护的用户能改写它或它所在的文件夹，不予信任"_s.arg(program)});
        } else {
            lines.push_back({Kind::Fine, u"allow = %1：可信"_s.arg(program)});
        }
    }
    QStringList folders{u"/tmp"_s, u"/dev/shm"_s};
    for (const auto& [name, home] : people) {
        if (QFileInfo(home).isDir() && !folders.contains(home)) {
            folders.append(home);
        }
    }
    for (const QString& folder : folders) {
        struct statvfs info {};
        if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0) {
            continue;
        }
        if ((info.f_flag & ST_NOEXEC) != 0) {
            lines.push_back({Kind::Fine, folder + u" 以 noexec 挂载：不能从这里运行程序"_s});
        } else {
            lines.push_back(
                {Kind::Note, folder + u" 没有以 noexec 挂载：受保护的用户能从这里运行下载的浏览器"
                                      u"（它不连扩展就会被关闭；见 README 的 noexec）"_s});
        }
    }
    return lines;
}

} // namespace winwarden
