// Finding a browser tab by its window caption, and asking it to close.
#include "platform/toplevelwindows.h"
#include "res/texts.h"
#include "tests/support/chromium.h"
#include "tests/support/fakeendpoint.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace winwarden {

class DevToolsWindowsTest final : public QObject {
    Q_OBJECT

private:
    HeadlessChromium m_chromium;

    QString OpenPage(const QString& title, const QString& rawTitle) {
        const QString id = m_chromium.OpenTab(HtmlPageUrl(title));
        return !id.isEmpty() && m_chromium.WaitForTitle(id, rawTitle) ? id : QString();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_chromium.Start(), qPrintable(m_chromium.Error())); }

    void init() { qputenv("WINWARDEN_DEVTOOLS", m_chromium.Endpoint().toUtf8()); }

    void aTabIsFoundByItsCaptionAndCloses() {
        const QString title = u"O'Brien & <Sons> \"quoted\""_s;
        const QString blocked =
            OpenPage(title, u"O&#39;Brien &amp; &lt;Sons&gt; &quot;quoted&quot;"_s);
        const QString other = OpenPage(u"测试页 100%"_s, u"测试页 100%"_s);
        QVERIFY(!blocked.isEmpty() && !other.isEmpty());

        const std::unique_ptr<TopLevelWindows> windows = MakeDevToolsTopLevelWindows();
        const auto found = windows->FindByCaption(title + text::kCaptionSuffix);
        QVERIFY(found);
        QCOMPARE(*found, (WindowHandle{m_chromium.Endpoint(), blocked}));

        windows->RequestClose(*found);
        QVERIFY(m_chromium.WaitUntilGone(blocked, 3000));
        QVERIFY(!windows->FindByCaption(title + text::kCaptionSuffix));
        // Gone already: asking again is harmless and touches no other tab.
        windows->RequestClose(*found);
        QVERIFY(m_chromium.Target(other));
        QCOMPARE(windows->FindByCaption(u"测试页 100%"_s + text::kCaptionSuffix)->id, other);
    }

    void captionsThatAreNotExactlyATabsFindNothing_data() {
        QTest::addColumn<QString>("caption");
        QTest::newRow("without the suffix") << u"Plain page"_s;
        QTest::newRow("other case") << u"plain page"_s + text::kCaptionSuffix;

        QTest::newRow("as the browser escapes it") << u"A &amp; B"_s + text::kCaptionSuffix;
        QTest::newRow("suffix only") << text::kCaptionSuffix;
    }

    void captionsThatAreNotExactlyATabsFindNothing() {
        QFETCH(QString, caption);
        static const bool opened = !OpenPage(u"Plain page"_s, u"Plain page"_s).isEmpty() &&
                                   !OpenPage(u"A & B"_s, u"A &amp; B"_s).isEmpty();
        QVERIFY(opened);
        QVERIFY(!MakeDevToolsTopLevelWindows()->FindByCaption(caption));
    }

    // The id comes from the browser's answer; it must stay one segment of the close request.
    void aStrangeTargetIdCannotReachAnotherRequest() {
        FakeEndpoint fake(FakeEndpoint::Answer(
            200, "[{\"id\":\"x/../../json/new?http://evil.test/\",\"type\":\"page\","
                 "\"title\":\"t\",\"url\":\"http://t.test/\"}]"));
        qputenv("WINWARDEN_DEVTOOLS", fake.Endpoint().toUtf8());
        const std::unique_ptr<TopLevelWindows> windows = MakeDevToolsTopLevelWindows();
        const auto found = windows->FindByCaption(u"t"_s + text::kCaptionSuffix);
        QVERIFY(found);
        windows->RequestClose(*found);
        const std::vector<QByteArray> requests = fake.Requests();
        QCOMPARE(requests.size(), 2u);
        QCOMPARE(requests.back(),
                 "GET /json/close/x%2F..%2F..%2Fjson%2Fnew%3Fhttp%3A%2F%2Fevil.test%2F HTTP/1.1");
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::DevToolsWindowsTest)
#include "test_devtoolswindows.moc"
