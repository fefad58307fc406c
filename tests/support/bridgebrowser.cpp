#include "tests/support/bridgebrowser.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace winwarden::test {

const QString kOpenerTitle = u"起始页"_s;
const QString kBlockedTitle = u"坏页 O'Brien & Co"_s;

bool WriteFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WritePages(const BrowserProcess& browser, const QString& driver) {
    const QByteArray opens =
        driver.isEmpty() ? QByteArray() : "window.open(\"" + driver.toUtf8() + "\");";
    return WriteFile(browser.Path(u"pages/opener.html"_s),
                     "<!DOCTYPE html><meta charset=\"utf-8\"><title>" + kOpenerTitle.toUtf8() +
                         "</title><script>window.open(\"blocked.html\");" + opens + "</script>") &&
           WriteFile(browser.Path(u"pages/blocked.html"_s),
                     "<!DOCTYPE html><meta charset=\"utf-8\"><title>" +
                         kBlockedTitle.toHtmlEscaped().toUtf8() + "</title>");
}

PageServer::PageServer()
    : m_endpoint([this](const QByteArray& requestLine) { return Answer(requestLine); }) {}

void PageServer::Open(const QString& url) {
    const std::lock_guard lock(m_mutex);
    m_toOpen.push_back(url);
}

namespace {

// "GET http://h.test/p HTTP/1.1" and "CONNECT h.test:443 HTTP/1.1" both name h.test.
QString HostOf(const QByteArray& requestLine) {
    const QString target = QString::fromLatin1(requestLine.split(' ').value(1));
    return target.contains(u"://"_s) ? QUrl(target).host() : target.section(u':', 0, 0);
}

} // namespace

bool PageServer::Saw(const QString& host) const {
    const std::vector<QByteArray> requests = m_endpoint.Requests();
    return std::any_of(requests.begin(), requests.end(),
                       [&](const QByteArray& line) { return HostOf(line) == host; });
}

QByteArray PageServer::Answer(const QByteArray& requestLine) {
    QByteArray body;
    const QString host = HostOf(requestLine);
    if (requestLine.startsWith("GET " + Driver().toLatin1() + "next ")) {
        const std::lock_guard lock(m_mutex);
        if (!m_toOpen.empty()) {
            body = m_toOpen.front().toUtf8();
            m_toOpen.pop_front();
        }
    } else if (host == QUrl(Driver()).host()) {
        body = "<!DOCTYPE html><script>setInterval(async () => { const next = await (await "
               "fetch(\"/next\")).text(); if (next) window.open(next); }, 100);</script>";
    } else {
        body = "<!DOCTYPE html><meta charset=\"utf-8\"><title>页 " + host.toUtf8() + "</title>";
    }
    return FakeEndpoint::Answer(200, body,
                                "Content-Type: text/html; charset=utf-8\r\nConnection: close\r\n");
}

} // namespace winwarden::test
