#include "guard/guard.h"

#include "engine/monitorengine.h"
#include "guard/guardenforcer.h"
#include "platform/programlog.h"
#include "signing/guardkey.h"
#include "sources/bridge/bridgesource.h"
#include "store/databasename.h"
#include "store/schema.h"
#include "store/storeerror.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

// How often the guard looks for browsers it cannot watch: as often as the engine's cycle.
constexpr std::chrono::milliseconds kEnforceInterval{MonitorEngine::kMonitorPeriodMs};

QString SystemError(const QString& what, int error) {
    return what + u"："_s + QString::fromLocal8Bit(std::strerror(error));
}

// Takes from a file or folder of ours what group and others may do beyond `mode`.
bool MendMode(const QByteArray& path, const struct stat& info, mode_t mode, QString* error) {
    const mode_t beyond = info.st_mode & 077 & ~mode;
    if (beyond == 0) {
        return true;
    }
    if (info.st_uid != ::geteuid() ||
        ::chmod(path.constData(), (info.st_mode & 07777) & ~beyond) != 0) {
        *error = u"%1 的权限 %2 超出了 %3，且无法更正"_s.arg(
            QFile::decodeName(path), ModeText(info.st_mode), ModeText(mode));
        return false;
    }
    return true;
}

} // namespace

QString ModeText(mode_t mode) {
    return QString::number(mode & 07777, 8).rightJustified(4, u'0');
}

std::optional<QString> GuardDatabase(const GuardPaths& paths, QString* error, int* keepHistoryDays,
                                     int* dayStartHour) {
    QFile file(paths.config);
    if (!file.exists()) {
        return paths.DefaultDatabase();
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = u"无法读取配置文件 %1：%2"_s.arg(paths.config, file.errorString());
        return std::nullopt;
    }
    QString database = paths.DefaultDatabase();
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';')) {
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (equals >= 0 && IsEnforceKey(key)) {
            continue; // ReadEnforceSettings's
        }
        if (equals >= 0 && key == "keep-history"_L1) {
            bool ok = false;
            const int days = value.toInt(&ok);
            if (!ok || days < 0) {
                *error = u"%1 第 %2 行：keep-history 须是天数（0 或更大的整数）"_s.arg(paths.config)
                             .arg(number);
                return std::nullopt;
            }
            if (keepHistoryDays) {
                *keepHistoryDays = days;
            }
            continue;
        }
        if (equals >= 0 && key == "day-start"_L1) {
            bool ok = false;
            const int hour = value.toInt(&ok);
            if (!ok || hour < 0 || hour > 23) {
                *error = u"%1 第 %2 行：day-start 须是一天开始的钟点（0 到 23 的整数）"_s
                             .arg(paths.config)
                             .arg(number);
                return std::nullopt;
            }
            if (dayStartHour) {
                *dayStartHour = hour;
            }
            continue;
        }
        if (equals < 0 || key != "database"_L1 || value.isEmpty()) {
            *error = u"%1 第 %2 行看不懂：%3"_s.arg(paths.config, QString::number(number), line);
            return std::nullopt;
        }
        try {
            if (ParseDatabaseName(value).engine == DatabaseLocation::Engine::Sqlite &&
                !QFileInfo(value).isAbsolute()) {
                *error = u"%1 第 %2 行：数据库文件须是绝对路径"_s.arg(paths.config).arg(number);
                return std::nullopt;
            }
        } catch (const StoreError& failure) {
            *error = paths.config + u"："_s + failure.message();
            return std::nullopt;
        }
        database = value;
    }
    return database;
}

bool PrepareGuardFolder(const QString& path, mode_t mode, QString* error) {
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), mode) == 0) {
        // The umask may have taken more than the mode asks.
        if (::chmod(native.constData(), mode) != 0) {
            *error = SystemError(u"无法设置 %1 的权限"_s.arg(path), errno);
            return false;
        }
        return true;
    }
    if (errno != EEXIST) {
        *error = SystemError(u"无法创建 "_s + path, errno);
        return false;
    }
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = u"%1 不是文件夹"_s.arg(path);
        return false;
    }
    if (info.st_uid != ::geteuid() && info.st_uid != 0) {
        *error = u"%1 属于另一个用户（uid %2）"_s.arg(path, QString::number(info.st_uid));
        return false;
    }
    return MendMode(native, info, mode, error);
}

Guard::Guard(GuardPaths paths) : m_paths(std::move(paths)) {}

Guard::~Guard() = default;

bool Guard::Start() {
    QString error;
    int keepHistory = VisitRecorder::kDefaultKeepDays;
    int dayStart = 0;
    const std::optional<QString> database = GuardDatabase(m_paths, &error, &keepHistory, &dayStart);
    const std::optional<EnforceSettings> enforce = ReadEnforceSettings(m_paths.config, &error);
    if (!database || !enforce || !PrepareGuardFolder(m_paths.runtimeDir, kRuntimeDirMode, &error) ||
        !PrepareGuardFolder(m_paths.stateDir, kStateDirMode, &error)) {
        LogLine(error);
        return false;
    }
    QLocalSocket other;
    other.connectToServer(m_paths.BridgeSocket());
    if (other.waitForConnected(500)) {
        LogLine(u"另一个守护程序已在 %1 上监听"_s.arg(m_paths.BridgeSocket()));
        return false;
    }
    PrepareRules(*database);
    // Every user's browsers, each connection's user from the kernel. No DevTools port: any
    // user could open one on the loopback address and speak for a browser that is not there.
    BridgeWatch watch;
    watch.running = [] {
        return RunningBrowsers(std::nullopt);
    };
    watch.link = std::make_shared<BridgeLink>();
    const std::shared_ptr<BridgeLink> link = watch.link;
    // Made at first start (or by `winwarden-browser install --system --fail-closed`, for
    // this user); without it the browsers told to fail closed stay closed, which is the point.
    const auto key = GuardKey::LoadOrCreate(m_paths.KeyFile(), {::geteuid(), ::getegid()}, &error);
    if (key) {
        watch.sign = [key](QByteArrayView message) {
            return key->Sign(message);
        };
    } else {
        LogLine(error +
                u"；浏览器无法确认守护服务在运行，设了 --fail-closed 的浏览器会一直挡住网页"_s);
    }
    m_engine = std::make_unique<MonitorEngine>(
        MakeSystemBridgeSource(m_paths.BridgeSocket(), std::move(watch)));
    if (!QFileInfo::exists(m_paths.BridgeSocket())) {
        LogLine(u"无法在 %1 上监听"_s.arg(m_paths.BridgeSocket()));
        return false;
    }
    m_engine->SetKeepHistoryDays(keepHistory);
    m_engine->SetDayStartHour(dayStart);
    try {
        m_engine->OpenStore(*database);
    } catch (const StoreError& failure) {
        // Monitoring goes on: each cycle tries the rules again and says when they fail.
        LogLine(
            u"无法打开规则数据库 %1：%2"_s.arg(DatabaseDisplayName(*database), failure.message()));
    }
    m_engine->Start();
    if (enforce->enforce) {
        m_enforcer = std::make_unique<GuardEnforcer>(*enforce, link);
        m_enforcer->Start(kEnforceInterval);
    }
    LogLine(u"正在监视每个用户的浏览器；规则：%1；套接字：%2；%3"_s.arg(
        DatabaseDisplayName(*database), m_paths.BridgeSocket(),
        enforce->enforce ? u"没有连上扩展的浏览器会被关闭"_s : u"enforce = off：不关闭浏览器"_s));
    return true;
}

void Guard::PrepareRules(const QString& database) {
    if (ParseDatabaseName(database).engine != DatabaseLocation::Engine::Sqlite) {
        return;
    }
    if (database == m_paths.DefaultDatabase() && !QFileInfo::exists(database)) {
        try {
            CreateRuleDatabase(database);
            LogLine(u"已创建规则数据库 "_s + database);
        } catch (const StoreError& failure) {
            LogLine(u"无法创建规则数据库 %1：%2"_s.arg(database, failure.message()));
        }
    }
    const QByteArray native = QFile::encodeName(database);
    struct stat info {};
    QString error;
    if (::stat(native.constData(), &info) == 0 && !MendMode(native, info, kRuleFileMode, &error)) {
        LogLine(error);
    }
}

} // namespace winwarden
