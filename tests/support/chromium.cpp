#include "tests/support/chromium.h"

#include <QFile>
#include <QJsonDocument>
#include <QTest>
#include <QUrl>
#include <csignal>
#include <curl/curl.h>
#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden {

HeadlessChromium::~HeadlessChromium() {
    if (m_process.state() != QProcess::NotRunning) {
        // The group id stays reserved until the browser is reaped: only its processes get these.
        const auto group = static_cast<pid_t>(m_process.processId());
        ::kill(-group, SIGTERM);
        if (!m_process.waitForFinished(5000)) {
            ::kill(-group, SIGKILL);
            m_process.waitForFinished(5000);
        }
    }
}

bool HeadlessChromium::Start() {
    m_process.setProgram(u"/usr/bin/chromium"_s);
    m_process.setArguments({u"--headless=new"_s, u"--no-sandbox"_s, u"--disable-gpu"_s,
                            u"--no-first-run"_s, u"--disable-background-networking"_s,
                            u"--disable-component-update"_s, u"--disable-sync"_s,
                            u"--user-data-dir="_s + m_profile.path(),
                            u"--remote-debugging-port=0"_s, u"about:blank"_s});
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    // Its own process group, so that the destructor reaches every process the browser forks.
    m_process.setChildProcessModifier([] { ::setsid(); });
    m_process.start();
    const auto answers = [this] {
        QFile file(m_profile.filePath(u"DevToolsActivePort"_s)); // may be written only in part
        if (file.open(QIODevice::ReadOnly))
            m_port = file.readLine().trimmed().toUShort();
        return m_process.state() == QProcess::NotRunning ||
               (m_port != 0 && Request("GET", "/json/version"));
    };
    const bool up = m_process.waitForStarted(10000) && QTest::qWaitFor(answers, 30000);
    if (!up || m_process.state() == QProcess::NotRunning)
        m_error = u"chromium did not open its DevTools endpoint: "_s + m_process.errorString();
    return m_error.isEmpty();
}

std::optional<QByteArray> HeadlessChromium::Request(const char* method, const QByteArray& path) {
    const std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), &curl_easy_cleanup);
    const QByteArray url = "http://" + Endpoint().toLatin1() + path;
    QByteArray answer;
    long status = 0;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.constData());
    curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, method);
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, 5000L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(
        curl.get(), CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* to) {
            static_cast<QByteArray*>(to)->append(data, qsizetype(size * count));
            return size * count;
        });
    const bool ok = curl_easy_perform(curl.get()) == CURLE_OK &&
                    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
                    status == 200;
    return ok ? std::optional{answer} : std::nullopt;
}

QString HeadlessChromium::OpenTab(const QString& url) {
    // The endpoint decodes the query once before it opens it.
    const auto answer = Request("PUT", "/json/new?" + QUrl::toPercentEncoding(url));
    return answer ? QJsonDocument::fromJson(*answer).object().value(u"id"_s).toString() : QString();
}

std::optional<QJsonArray> HeadlessChromium::Targets() {
    const QJsonDocument document =
        QJsonDocument::fromJson(Request("GET", "/json/list").value_or(""));
    return document.isArray() ? std::optional{document.array()} : std::nullopt;
}

QString HtmlPageUrl(const QString& title) {
    const QString html = u"<!DOCTYPE html><meta charset=\"utf-8\"><title>"_s +
                         title.toHtmlEscaped() + u"</title><p>winwarden test page</p>"_s;
    return u"data:text/html;charset=utf-8,"_s + QString::fromLatin1(QUrl::toPercentEncoding(html));
}

} // namespace winwarden
