#include "sources/devtools/devtoolsendpoints.h"

#include "platform/programlog.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

const QString kDefaultEndpoint = u"127.0.0.1:9222"_s;
const QString kFileHost = u"127.0.0.1"_s;

std::optional<quint16> ParsePort(QStringView text) {
    static const QRegularExpression digits(u"^[0-9]{1,5}$"_s);
    if (!digits.match(text).hasMatch()) {
        return std::nullopt;
    }
    const int port = text.toInt();
    if (port < 1 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<quint16>(port);
}

bool IsLoopbackHost(const QString& host) {
    const QByteArray text = host.toLatin1();
    if (text.contains('\0')) {
        return false;
    }
    if (host.startsWith(u'[')) {
        in6_addr address{};
        return inet_pton(AF_INET6, text.mid(1, text.size() - 2).constData(), &address) == 1 &&
               std::memcmp(&address, &in6addr_loopback, sizeof address) == 0;
    }
    if (host.compare(u"localhost"_s, Qt::CaseInsensitive) == 0) {
        return true;
    }
    // inet_pton takes dotted quads only: shorthand such as "127.1" is refused.
    in_addr address{};
    return inet_pton(AF_INET, text.constData(), &address) == 1 &&
           (ntohl(address.s_addr) >> 24) == 127;
}

// "host:port" or "[v6]:port"; the host and the port, or nothing when the text has another shape.
std::optional<std::pair<QString, QString>> SplitHostPort(const QString& entry) {
    static const QRegularExpression shape(u"^(\\[[^\\]/]*\\]|[^:/\\[\\]]+):([^:/]*)$"_s);
    const QRegularExpressionMatch match = shape.match(entry);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    return std::pair{match.captured(1), match.captured(2)};
}

void ParseEntry(const QString& entry, DevToolsEndpoints& result) {
    const auto refuse = [&](const QString& reason) {
        result.refused.push_back({entry, reason});
    };
    const auto add = [&](const QString& endpoint) {
        if (!result.endpoints.contains(endpoint)) {
            result.endpoints.append(endpoint);
        }
    };
    if (const auto hostPort = SplitHostPort(entry)) {
        const auto& [host, portText] = *hostPort;
        if (!ParsePort(portText)) {
            refuse(u"不是端口号："_s + portText);
        } else if (!IsLoopbackHost(host)) {
            refuse(u"不是本机回环地址（只监视 127.0.0.0/8、::1 和 localhost）"_s);
        } else {
            add(host + u':' + portText);
        }
        return;
    }
    if (entry.contains(u':') && !entry.contains(u'/')) {
        refuse(u"既不是 主机:端口，也不是 DevToolsActivePort 文件的路径"_s);
        return;
    }
    // A FIFO or a device there would block the open or the read for as long as it likes:
    // only a regular file is read, and the open itself never waits.
    const int fd = ::open(QFile::encodeName(entry).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        refuse(u"无法读取这个 DevToolsActivePort 文件："_s +
               QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    struct stat info {};
    char head[64] = {};
    ssize_t length = -1;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        length = ::read(fd, head, sizeof head);
    }
    ::close(fd);
    if (!S_ISREG(info.st_mode)) {
        refuse(u"不是普通文件"_s);
        return;
    }
    const QByteArray text(head, std::max<ssize_t>(length, 0));
    const QString firstLine = QString::fromUtf8(text.split('\n').value(0)).trimmed();
    const auto port = ParsePort(firstLine);
    if (!port) {
        refuse(u"这个文件的第一行不是端口号"_s);
        return;
    }
    add(kFileHost + u':' + QString::number(*port));
}

} // namespace

DevToolsEndpoints ParseDevToolsEndpoints(const QString& value) {
    DevToolsEndpoints result;
    if (value.trimmed().isEmpty()) {
        result.endpoints.append(kDefaultEndpoint);
        return result;
    }
    const QStringList entries = value.split(u',');
    for (const QString& raw : entries) {
        const QString entry = raw.trimmed();
        if (!entry.isEmpty()) {
            ParseEntry(entry, result);
        }
    }
    return result;
}

QStringList WatchedDevToolsEndpoints() {
    DevToolsEndpoints parsed = ParseDevToolsEndpoints(qEnvironmentVariable("WINWARDEN_DEVTOOLS"));
    static std::mutex mutex;
    static QSet<QString> reported;
    const std::lock_guard lock(mutex);
    for (const RefusedEndpoint& refused : parsed.refused) {
        if (!reported.contains(refused.entry)) {
            reported.insert(refused.entry);
            LogLine(u"忽略 WINWARDEN_DEVTOOLS 中的“%1”：%2"_s.arg(refused.entry, refused.reason));
        }
    }
    return parsed.endpoints;
}

bool IsLoopbackEndpoint(const QString& endpoint) {
    const auto hostPort = SplitHostPort(endpoint);
    return hostPort && ParsePort(hostPort->second) && IsLoopbackHost(hostPort->first);
}

} // namespace winwarden
