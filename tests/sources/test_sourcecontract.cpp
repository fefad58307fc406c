// The checks every browser source must pass, run for each kind of source; the fake, so that
// the other tests' stand-in behaves like a real source.
#include "sources/devtools/devtoolssource.h"
#include "tests/support/chromium.h"
#include "tests/support/fakeendpoint.h"
#include "tests/support/fakesource.h"
#include "tests/support/sourcecontract.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace winwarden {

class FakeRig final : public test::SourceRig {
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

class ChromiumRig final : public test::SourceRig {
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
        test::CheckBrowserSourceContract(rig);
    }

    void devToolsSourceOnARealChromium() {
        ChromiumRig rig;
        QVERIFY2(rig.m_chromium.Start(), qPrintable(rig.m_chromium.Error()));
        qputenv("WINWARDEN_DEVTOOLS", rig.m_chromium.Endpoint().toUtf8());
        test::CheckBrowserSourceContract(rig);
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::SourceContractTest)
#include "test_sourcecontract.moc"
