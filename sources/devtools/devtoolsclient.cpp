#include "sources/devtools/devtoolsclient.h"

#include "sources/devtools/devtoolsendpoints.h"

#include <QUrl>
#include <curl/curl.h>
#include <memory>

namespace winwarden {

namespace {

constexpr long kTimeoutMs = 1000;

size_t Collect(char* data, size_t size, size_t count, void* user) {
    auto* answer = static_cast<QByteArray*>(user);
    const size_t length = size * count;
    if (length > static_cast<size_t>(kMaxAnswerBytes - answer->size())) {
        return 0; // makes curl abort the transfer
    }
    if (answer->isEmpty()) {
        answer->reserve(64 * 1024);
    }
    answer->append(data, static_cast<qsizetype>(length));
    return length;
}

bool EnsureCurl() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

std::optional<QByteArray> Get(const QString& endpoint, const QByteArray& path) {
    if (!EnsureCurl() || !IsLoopbackEndpoint(endpoint)) {
        return std::nullopt;
    }
    const std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl) {
        return std::nullopt;
    }
    const QByteArray url = "http://" + endpoint.toLatin1() + path;
    QByteArray answer;
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, kTimeoutMs);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, kTimeoutMs);
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxAnswerBytes));
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &answer);
    if (curl_easy_perform(handle) != CURLE_OK) {
        return std::nullopt;
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        return std::nullopt;
    }
    return answer;
}

} // namespace

std::optional<QByteArray> FetchTargetList(const QString& endpoint) {
    return Get(endpoint, "/json/list");
}

bool CloseTarget(const QString& endpoint, const QString& id) {
    if (id.isEmpty()) {
        return false;
    }
    // The id comes from the browser's answer: escape it so that it stays one path segment.
    // Dots too: "." and ".." would otherwise be folded into the path before it is sent.
    return Get(endpoint, "/json/close/" + QUrl::toPercentEncoding(id, QByteArray(), "."))
        .has_value();
}

} // namespace winwarden
