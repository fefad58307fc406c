// The checks every browser source must pass, run for each kind of source; the fake, so that
// the other tests' stand-in behaves like a real source.
#include "sources/devtools/devtoolssource.h"
#include "tests/support/chromium.h"
#include "tests/support/fakeendpoint.h"
#include "tests/support/fakesource.h"

#include <QTest>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

// What every browser source must do: pages appear with their titles and URLs, the order holds
// between passes, a close request makes a window go, a second one is harmless, and a pass with
// no browser answering reads nothing. `openPage` opens a page titled as given (empty: untitled)
// and says the URL the source will report for it; after `silence` no browser answers.
void CheckBrowserSourceContract(BrowserSource& source,
                                const std::function<QString(const QString&)>& openPage,
                                const std::function<void()>& silence) {
    const QStringList titles{u"O'Brien & <Sons> \"q\""_s, u"测试页 100%"_s, QString()};
    QStringList urls;
    for (const QString& title : titles)
        urls.append(openPage(title));
    BrowserPass pass;
    const auto page = [&pass](const QString& url) -> const BrowserWindow* {
        const auto found = std::find_if(pass.windows.begin(), pass.windows.end(), [&](auto& w) {
            return w.kind == BrowserWindow::Kind::HtmlDocument && w.url == url;
        });
        return found == pass.windows.end() ? nullptr : &*found;
    };
    const auto handles = [](const BrowserPass& of) {
        QList<WindowHandle> list;
        for (const BrowserWindow& window : of.windows)
            list.append(window.handle);
        return list;
    };
    QString missing;
    const bool shown = QTest::qWaitFor([&] { // while the pages load
        pass = source.TakePass();
        missing.clear();
        for (qsizetype i = 0; i < titles.size(); ++i)
            if (!page(urls[i]) || page(urls[i])->title != titles[i])
                missing = u"no page titled \"%1\" at %2"_s.arg(titles[i], urls[i].left(80));
        return missing.isEmpty();
    });
    QVERIFY2(shown && pass.Read(), qPrintable(missing));
    QCOMPARE(handles(source.TakePass()), handles(pass));

    const WindowHandle closed = page(urls[0])->handle, kept = page(urls[1])->handle;
    source.RequestClose(closed);
    QVERIFY(QTest::qWaitFor([&] { return !handles(source.TakePass()).contains(closed); }, 5000));
    source.RequestClose(closed); // gone already: harmless, and no other window goes
    QTest::qWait(200);
    QVERIFY(handles(source.TakePass()).contains(kept));

    silence();
    const BrowserPass silent = source.TakePass();
    QVERIFY(!silent.Read() && silent.windows.empty());
}

} // namespace

class SourceContractTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fakeSource() {
        test::FakeBrowserSource source;
        QStringList pages;
        const auto open = [&](const QString& title) {
            pages << title << u"https://fake.test/%1"_s.arg(pages.size());
            source.SetPages(pages);
            return pages.back();
        };
        CheckBrowserSourceContract(source, open, [&] { source.SetUnreadable(true); });
    }

    void devToolsSourceOnARealChromium() {
        HeadlessChromium chromium;
        QVERIFY2(chromium.Start(), qPrintable(chromium.Error()));
        qputenv("WINWARDEN_DEVTOOLS", chromium.Endpoint().toUtf8());
        const auto open = [&](const QString& title) {
            return chromium.OpenTab(HtmlPageUrl(title)).isEmpty() ? QString() : HtmlPageUrl(title);
        };
        CheckBrowserSourceContract(*MakeDevToolsSource(), open, [] {
            qputenv("WINWARDEN_DEVTOOLS", FakeEndpoint::ClosedEndpoint().toUtf8());
        });
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::SourceContractTest)
#include "test_sourcecontract.moc"
