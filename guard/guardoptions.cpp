#include "guard/guardoptions.h"

#include "guard/installdirs.h"

#include <QDir>
#include <QFileInfo>
#include <map>

using namespace Qt::StringLiterals;

namespace winwarden {

QString InstalledConfigFolder(const QString& program) {
    const QString sysconf = QString::fromUtf8(installed::kSysconfDir);
    if (QDir::isAbsolutePath(sysconf)) {
        return sysconf + u"/winwarden"_s;
    }
    const QString folder = QFileInfo(program).path();
    const QString sbin = u"/"_s + QString::fromUtf8(installed::kSbinDir);
    if (!folder.endsWith(sbin)) {
        return QString::fromUtf8(installed::kConfiguredSysconfDir) + u"/winwarden"_s;
    }
    const QString prefix = folder.chopped(sbin.size());
    if (prefix.isEmpty() || prefix == "/usr"_L1) {
        return u"/"_s + sysconf + u"/winwarden"_s;
    }
    if (prefix.startsWith("/opt/"_L1)) {
        return u"/"_s + sysconf + prefix + u"/winwarden"_s;
    }
    return prefix + u"/"_s + sysconf + u"/winwarden"_s;
}

QString DefaultGuardConfig() {
    // The kernel's word for where the program lies, links resolved (/sbin is /usr/sbin).
    return InstalledConfigFolder(QFileInfo(u"/proc/self/exe"_s).canonicalFilePath()) +
           u"/guard.conf"_s;
}

bool ParseGuardOptions(const QStringList& arguments, GuardOptions& options) {
    const std::map<QString, QString*> folders{{u"--runtime-dir"_s, &options.paths.runtimeDir},
                                              {u"--state-dir"_s, &options.paths.stateDir},
                                              {u"--config"_s, &options.paths.config}};
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == "-h"_L1 || argument == "--help"_L1) {
            options.help = true;
        } else if (argument == "--check"_L1) {
            options.check = true;
        } else if (const auto folder = folders.find(argument);
                   folder != folders.end() && i + 1 < arguments.size()) {
            *folder->second = QFileInfo(arguments.at(++i)).absoluteFilePath();
        } else {
            return false;
        }
    }
    return true;
}

QString GuardUsage() {
    return u"用法: winwarden-guard [--check] [--runtime-dir 文件夹] [--state-dir 文件夹] "
           u"[--config 文件]\n"_s;
}

QString GuardHelp() {
    return GuardUsage() + uR"(
浏览哨兵守护程序：把监视引擎作为系统服务运行（winwarden-guard.service，系统用户 winwarden），
不属于任何登录的用户。每个本机用户的浏览器经配套扩展和 winwarden-host 连到
/run/winwarden/bridge；守护程序从内核得知每个连接属于哪个用户，记录新页面，
关闭规则为“禁止”的标签页，每个用户的标签页只交给这个用户的浏览器去关。
每个用户打开的浏览哨兵窗口都经 /run/winwarden/control 连到守护程序，成为守护程序的窗口：
各人只看到自己浏览器的页面，管理员（root 和 winwarden 组的成员）看到所有用户的；
人人都能查看规则，只有管理员能修改，由守护程序按内核给出的连接者身份把关。
规则在 /var/lib/winwarden/winwarden.mdb（首次启动时创建），或 %1
中 database = 指定的数据库（文件的绝对路径，或 postgresql:// 地址）。
每次访问（谁、何时、哪个网站、在前台多久、是否被禁止）记入同一数据库的 访问记录 表，
保留 keep-history = 天数（默认 90；0 为不记录、不保留）；管理员能读所有人的访问记录，
其他用户只能读自己的。

能防住的（被保护的用户不是管理员时）：
  - 结束守护程序、改写或删除规则文件：都不属于这个用户，做不到；
  - 在浏览哨兵窗口里或用自制的程序改规则：守护程序拒绝，什么也不变；
  - 停用或删除扩展：由 winwarden-browser install --system 写的策略强制安装，做不到；
  - 关掉扩展的连接、让浏览器不带扩展运行 10 秒、向桥接套接字发送浏览器不会发的数据、
    在一分钟内报告超过 3000 个新标题：每次都写入系统日志（journalctl -u winwarden-guard），
    冒充浏览器的连接被断开。
防不住的：
  - 管理员账户（root、能用 sudo 的用户）可以停掉、改掉这一切；
  - 不能启动本机主机程序的浏览器（如 Flatpak 版）不受监视，
    没有用策略强制安装扩展的浏览器里，用户可以停用扩展（日志会记下，但页面不会被关闭）；
  - 只开着 DevTools 端口的浏览器不归守护程序管。

选项：
  --check              检查服务、套接字、规则库和浏览器策略是否就绪（有问题时退出状态为 1）
  --runtime-dir 文件夹  套接字所在的文件夹（默认 /run/winwarden；浏览器的主机程序只找默认位置）
  --state-dir 文件夹    默认规则文件所在的文件夹（默认 /var/lib/winwarden）
  --config 文件         配置文件（默认 %1）
  --version            显示版本
)"_s.arg(DefaultGuardConfig());
}

} // namespace winwarden
