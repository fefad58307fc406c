#include "bench/headlesschromium.h"

#include "sources/devtools/devtoolsclient.h"

#include <QFile>
#include <QJsonDocument>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace winwarden {

bool HeadlessChromium::Start() {
    const auto answers = [this] {
        QFile file(m_browser.Path(u"profile/DevToolsActivePort"_s)); // may be written in part
        if (file.open(QIODevice::ReadOnly))
            m_port = file.readLine().trimmed().toUShort();
        return !m_browser.Running() ||
               (m_port != 0 &&
                QJsonDocument::fromJson(FetchTargetList(Endpoint()).value_or("")).isArray());
    };
    if (!m_browser.Start(u"/usr/bin/chromium"_s, test::HeadlessChromiumFlags(m_browser)
                                                     << u"--remote-debugging-port=0"_s
                                                     << u"about:blank"_s) ||
        !QTest::qWaitFor(answers, 30000) || !m_browser.Running())
        m_error = u"chromium did not open its DevTools endpoint: see "_s +
                  m_browser.Path(u"browser.log"_s);
    return m_error.isEmpty();
}

QString HeadlessChromium::OpenTab(const QString& url) {
    return test::OpenTab(Endpoint(), url);
}

QString HtmlPageUrl(const QString& title) {
    const QString html = u"<!DOCTYPE html><meta charset=\"utf-8\"><title>"_s +
                         title.toHtmlEscaped() + u"</title><p>winwarden test page</p>"_s;
    return u"data:text/html;charset=utf-8,"_s + QString::fromLatin1(QUrl::toPercentEncoding(html));
}

} // namespace winwarden
