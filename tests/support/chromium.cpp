#include "tests/support/chromium.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <csignal>
#include <curl/curl.h>
#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden::test {

BrowserProcess::~BrowserProcess() {
    if (Running()) {
        // The group id stays reserved until the browser is reaped: only its processes get these.
        const auto group = static_cast<pid_t>(m_process.processId());
        ::kill(-group, SIGTERM);
        if (!m_process.waitForFinished(5000)) {
            ::kill(-group, SIGKILL);
            m_process.waitForFinished(5000);
        }
    }
}

bool BrowserProcess::Start(const QString& program, const QStringList& arguments,
                           const QProcessEnvironment& environment) {
    m_process.setProcessEnvironment(environment);
    m_process.setStandardOutputFile(Path(u"browser.log"_s));
    m_process.setStandardErrorFile(Path(u"browser.log"_s), QIODevice::Append);
    m_process.setChildProcessModifier([] { ::setsid(); });
    m_process.start(program, arguments);
    return m_process.waitForStarted(10000);
}

QStringList HeadlessChromiumFlags(const BrowserProcess& browser) {
    return u"--headless=new --no-sandbox --disable-gpu --no-first-run --disable-sync "
           "--disable-background-networking --disable-component-update --disable-popup-blocking"_s
               .split(u' ')
           << u"--user-data-dir="_s + browser.Path(u"profile"_s);
}

QString OpenTab(const QString& endpoint, const QString& url) {
    const std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), &curl_easy_cleanup);
    // The endpoint decodes the query once before it opens it.
    const QByteArray request =
        "http://" + endpoint.toLatin1() + "/json/new?" + QUrl::toPercentEncoding(url);
    QByteArray answer;
    curl_easy_setopt(curl.get(), CURLOPT_URL, request.constData());
    curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, "PUT");
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, 5000L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(
        curl.get(), CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* to) {
            static_cast<QByteArray*>(to)->append(data, qsizetype(size * count));
            return size * count;
        });
    curl_easy_perform(curl.get());
    return QJsonDocument::fromJson(answer).object().value(u"id"_s).toString();
}

} // namespace winwarden::test
