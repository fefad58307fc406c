#include "tests/support/chromium.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

const QString kChromium = u"/usr/bin/chromium"_s;

// Splits a complete HTTP answer into status code and body; nothing while it is incomplete.
std::optional<std::pair<int, QByteArray>> ParseAnswer(const QByteArray& answer, bool closed) {
    const qsizetype headerEnd = answer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        return std::nullopt;
    }
    const QByteArray header = answer.left(headerEnd);
    const QByteArray body = answer.mid(headerEnd + 4);
    const QList<QByteArray> lines = header.split('\n');
    const QList<QByteArray> status = lines.value(0).split(' ');
    bool ok = false;
    const int code = status.value(1).toInt(&ok);
    if (!ok) {
        return std::nullopt;
    }
    for (const QByteArray& line : lines) {
        if (line.toLower().startsWith("content-length:")) {
            const qsizetype length = line.mid(15).trimmed().toLongLong();
            if (body.size() < length) {
                return std::nullopt;
            }
            return std::pair{code, body.left(length)};
        }
    }
    return closed ? std::optional{std::pair{code, body}} : std::nullopt;
}

} // namespace

HeadlessChromium::~HeadlessChromium() {
    Stop();
}

bool HeadlessChromium::Start() {
    if (!QFileInfo(kChromium).isExecutable()) {
        m_error = kChromium + u" is missing: the browser tests need it"_s;
        return false;
    }
    m_profile = std::make_unique<QTemporaryDir>();
    if (!m_profile->isValid()) {
        m_error = u"cannot create a profile directory: "_s + m_profile->errorString();
        return false;
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(kChromium);
    m_process->setArguments({u"--headless=new"_s, u"--no-sandbox"_s, u"--disable-gpu"_s,
                             u"--no-first-run"_s, u"--disable-background-networking"_s,
                             u"--disable-component-update"_s, u"--disable-sync"_s,
                             u"--user-data-dir="_s + m_profile->path(),
                             u"--remote-debugging-port=0"_s, u"about:blank"_s});
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->setStandardErrorFile(QProcess::nullDevice());
    // Its own process group, so that the destructor reaches every process the browser forks.
    m_process->setChildProcessModifier([] { ::setsid(); });
    m_process->start();
    if (!m_process->waitForStarted(10000)) {
        m_error = u"chromium did not start: "_s + m_process->errorString();
        return false;
    }
    const bool up = WaitFor(
        [this] {
            if (m_process->state() == QProcess::NotRunning) {
                return true;
            }
            QFile file(ActivePortFile());
            if (m_port == 0 && file.open(QIODevice::ReadOnly)) {
                m_port = file.readLine().trimmed().toUShort();
            }
            return m_port != 0 && Request("GET", "/json/version").has_value();
        },
        30000);
    if (!up || m_process->state() == QProcess::NotRunning) {
        m_error = u"chromium did not open its DevTools endpoint"_s;
        Stop();
        return false;
    }
    return true;
}

void HeadlessChromium::Stop() {
    if (m_process && m_process->state() != QProcess::NotRunning) {
        const pid_t group = static_cast<pid_t>(m_process->processId());
        // The group stays reserved until the browser itself is reaped, so these reach only
        // the processes it started.
        ::kill(-group, SIGTERM);
        if (!m_process->waitForFinished(5000)) {
            ::kill(-group, SIGKILL);
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
    m_profile.reset();
    m_port = 0;
}

QString HeadlessChromium::Endpoint() const {
    return u"127.0.0.1:%1"_s.arg(m_port);
}

QString HeadlessChromium::ActivePortFile() const {
    return m_profile ? m_profile->filePath(u"DevToolsActivePort"_s) : QString();
}

std::optional<QByteArray> HeadlessChromium::Request(const QByteArray& method,
                                                    const QByteArray& target) {
    if (m_port == 0) {
        return std::nullopt;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    const auto closeSocket = qScopeGuard([fd] { ::close(fd); });
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A local connect either succeeds or is refused at once.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return std::nullopt;
    }
    const QByteArray request = method + ' ' + target +
                               " HTTP/1.1\r\nHost: " + Endpoint().toLatin1() +
                               "\r\nConnection: close\r\n\r\n";
    if (::send(fd, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL) !=
        request.size()) {
        return std::nullopt;
    }
    QByteArray answer;
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(deadline.remainingTime())) <= 0) {
            break;
        }
        char buffer[65536];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0) {
            break;
        }
        answer.append(buffer, got);
        if (const auto parsed = ParseAnswer(answer, got == 0)) {
            return parsed->first == 200 ? std::optional{parsed->second} : std::nullopt;
        }
        if (got == 0) {
            break;
        }
    }
    return std::nullopt;
}

QString HeadlessChromium::OpenTab(const QString& url) {
    // The endpoint decodes the query once before it opens it.
    const auto answer = Request("PUT", "/json/new?" + QUrl::toPercentEncoding(url));
    return answer ? QJsonDocument::fromJson(*answer).object().value(u"id"_s).toString() : QString();
}

std::optional<QJsonArray> HeadlessChromium::ListedTargets() {
    const auto answer = Request("GET", "/json/list");
    if (!answer) {
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(*answer);
    return document.isArray() ? std::optional{document.array()} : std::nullopt;
}

QJsonArray HeadlessChromium::Targets() {
    return ListedTargets().value_or(QJsonArray());
}

std::optional<QJsonObject> HeadlessChromium::Target(const QString& id) {
    for (const QJsonValue& value : Targets()) {
        if (value.toObject().value(u"id"_s).toString() == id) {
            return value.toObject();
        }
    }
    return std::nullopt;
}

bool HeadlessChromium::WaitFor(const std::function<bool()>& done, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

bool HeadlessChromium::WaitForTitle(const QString& id, const QString& rawTitle, int timeoutMs) {
    return WaitFor(
        [&] {
            const auto target = Target(id);
            return target && target->value(u"title"_s).toString() == rawTitle;
        },
        timeoutMs);
}

bool HeadlessChromium::WaitUntilGone(const QString& id, int timeoutMs) {
    return WaitFor(
        [&] {
            // A browser that does not answer has not shown that the tab went.
            const auto targets = ListedTargets();
            return targets && std::none_of(targets->begin(), targets->end(), [&](const auto& t) {
                       return t.toObject().value(u"id"_s).toString() == id;
                   });
        },
        timeoutMs);
}

QString HtmlPageUrl(const QString& title) {
    const QString html = u"<!DOCTYPE html><meta charset=\"utf-8\"><title>"_s +
                         title.toHtmlEscaped() + u"</title><p>winwarden test page</p>"_s;
    return u"data:text/html;charset=utf-8,"_s + QString::fromLatin1(QUrl::toPercentEncoding(html));
}

} // namespace winwarden
