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

// What the contract needs of one kind of source.
class SourceRig {
public:
    virtual ~SourceRig() = default;
    virtual BrowserSource& Source() = 0;
    // Opens a page titled `title` (empty: untitled); the URL the source will report for it.
    virtual QString OpenPage(const QString& title) = 0;
    // From now on no browser of the source answers.
    virtual void SilenceBrowsers() = 0;
};

// What every browser source must do: pages appear with their titles and URLs, the order holds
// between passes, a close request makes a window go, a second one is harmless, and a pass with
// no browser answering reads nothing.
void CheckBrowserSourceContract(SourceRig& rig) {
    BrowserSource& source = rig.Source();
    const QStringList titles{u"O'Brien & <Sons> \"q\""_s, u"测试页 100%"_s, QString()};
    QStringList urls;
    for (const QString& title : titles)
        urls.append(rig.OpenPage(title));
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

    rig.SilenceBrowsers();
    const BrowserPass silent = source.TakePass();
    QVERIFY(!silent.Read() && silent.windows.empty());
}

} // namespace

class FakeRig final : public SourceRig {
public:
    BrowserSource& Source() override { return m_source; }
    QString OpenPage(const QString& title) override {
        m_pages << title << u"https://fake.test/%1"_s.arg(m_pages.size());
        m_source.SetPages(m_pages);
        return m_pages.back();
    }
    void SilenceBrowsers() override { m_source.SetUnreadable(true); }

private:
    test::FakeBrowserSource m_source;
    QStringList m_pages;
};

class ChromiumRig final : public SourceRig {
public:
    BrowserSource& Source() override { return *m_source; }
    QString OpenPage(const QString& title) override {
        return m_chromium.OpenTab(HtmlPageUrl(title)).isEmpty() ? QString() : HtmlPageUrl(title);
    }
    void SilenceBrowsers() override {
        qputenv("WINWARDEN_DEVTOOLS", FakeEndpoint::ClosedEndpoint().toUtf8());
    }
    HeadlessChromium m_chromium;

private:
    const std::unique_ptr<BrowserSource> m_source = MakeDevToolsSource();
};

class SourceContractTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fakeSource() {
        FakeRig rig;
        CheckBrowserSourceContract(rig);
    }

    void devToolsSourceOnARealChromium() {
        ChromiumRig rig;
        QVERIFY2(rig.m_chromium.Start(), qPrintable(rig.m_chromium.Error()));
        qputenv("WINWARDEN_DEVTOOLS", rig.m_chromium.Endpoint().toUtf8());
        CheckBrowserSourceContract(rig);
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::SourceContractTest)
#include "test_sourcecontract.moc"
