// The survey against a real headless Chromium.
#include "survey/browsersnapshot.h"
#include "survey/shellwindows.h"
#include "tests/support/chromium.h"

#include <QJsonObject>
#include <QTest>
#include <set>

using namespace Qt::StringLiterals;

namespace winwarden {

class BrowserSurveyTest final : public QObject {
    Q_OBJECT

private:
    HeadlessChromium m_chromium;

    // Opens a tab on a page titled `title` and waits until the browser reports that title
    // (escaped as /json/list escapes it) or, for an untitled page, the page's URL.
    QString OpenPage(const QString& title) {
        const QString url = HtmlPageUrl(title);
        const QString id = m_chromium.OpenTab(url);
        QString raw = title;
        raw.replace(u'&', u"&amp;"_s)
            .replace(u'<', u"&lt;"_s)
            .replace(u'>', u"&gt;"_s)
            .replace(u'"', u"&quot;"_s)
            .replace(u'\'', u"&#39;"_s);
        const bool loaded = HeadlessChromium::WaitFor([&] {
            const auto target = m_chromium.Target(id);
            return target && target->value(u"url"_s).toString() == url &&
                   (title.isEmpty() || target->value(u"title"_s).toString() == raw);
        });
        return !id.isEmpty() && loaded ? url : QString();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(m_chromium.Start(), qPrintable(m_chromium.Error()));
        qputenv("WINWARDEN_DEVTOOLS", m_chromium.Endpoint().toUtf8());
    }

    void pagesComeBackWithTheirExactTitlesAndUrls() {
        const QStringList titles{u"O'Brien & <Sons> \"quoted\""_s, u"测试页 100%"_s, QString(),
                                 u"Tom &amp; Jerry &#39;s"_s};
        std::vector<QString> urls;
        for (const QString& title : titles) {
            urls.push_back(OpenPage(title));
            QVERIFY2(!urls.back().isEmpty(), qPrintable(u"page not loaded: "_s + title));
        }
        TakeBrowserSnapshot();
        const BrowserSnapshot& snapshot = TheBrowserSnapshot();
        QCOMPARE(snapshot.count, m_chromium.Targets().size());
        for (size_t page = 0; page < urls.size(); ++page) {
            const auto* const end = snapshot.urls.begin() + snapshot.count;
            const auto found = std::find(snapshot.urls.begin(), end, urls[page]);
            QVERIFY2(found != end, qPrintable(titles[static_cast<qsizetype>(page)]));
            const auto index = static_cast<size_t>(found - snapshot.urls.begin());
            QCOMPARE(snapshot.titles[index], titles[static_cast<qsizetype>(page)]);
        }
    }

    void targetsThatAreNotPagesWriteNoEntry() {
        const QJsonArray targets = m_chromium.Targets();
        qsizetype others = 0;
        for (const QJsonValue& target : targets) {
            others += target.toObject().value(u"type"_s).toString() != u"page"_s ? 1 : 0;
        }
        QVERIFY2(others > 0, "the browser lists no target other than its pages");

        const std::unique_ptr<ShellWindows> windows = MakeDevToolsShellWindows();
        BrowserSnapshot snapshot;
        snapshot.titles.fill(u"stale"_s);
        snapshot.urls.fill(u"stale"_s);
        TakeBrowserSnapshot(*windows, snapshot);
        QCOMPARE(snapshot.count, targets.size());
        const auto stale = std::count(snapshot.titles.begin(),
                                      snapshot.titles.begin() + snapshot.count, u"stale"_s);
        QCOMPARE(stale, others);
        QCOMPARE(
            std::count(snapshot.urls.begin(), snapshot.urls.begin() + snapshot.count, u"stale"_s),
            others);
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::BrowserSurveyTest)
#include "test_browsersurvey.moc"
