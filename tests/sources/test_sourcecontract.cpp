// The checks every browser source must pass, run for each kind of source.
#include "sources/devtools/devtoolssource.h"
#include "tests/support/chromium.h"
#include "tests/support/fakeendpoint.h"
#include "tests/support/fakesource.h"
#include "tests/support/sourcecontract.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

class FakeRig final : public test::SourceRig {
public:
    BrowserSource& Source() override { return m_source; }
    QString OpenPage(const QString& title) override {
        const QString url = u"https://fake.test/%1"_s.arg(m_pages.size() / 2);
        m_pages << title << url;
        m_source.SetPages(m_pages);
        return url;
    }
    void SilenceBrowsers() override { m_source.SetUnreadable(true); }

private:
    test::FakeBrowserSource m_source;
    QStringList m_pages;
};

class ChromiumRig final : public test::SourceRig {
public:
    explicit ChromiumRig(HeadlessChromium& chromium) : m_chromium(chromium) {
        qputenv("WINWARDEN_DEVTOOLS", chromium.Endpoint().toUtf8());
    }
    BrowserSource& Source() override { return *m_source; }
    QString OpenPage(const QString& title) override {
        const QString url = HtmlPageUrl(title);
        return m_chromium.OpenTab(url).isEmpty() ? QString() : url;
    }
    void SilenceBrowsers() override {
        qputenv("WINWARDEN_DEVTOOLS", FakeEndpoint::ClosedEndpoint().toUtf8());
    }

private:
    HeadlessChromium& m_chromium;
    const std::unique_ptr<BrowserSource> m_source = MakeDevToolsSource();
};

} // namespace

class SourceContractTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fakeSource() {
        FakeRig rig;
        test::CheckBrowserSourceContract(rig);
    }

    void devToolsSourceOnARealChromium() {
        HeadlessChromium chromium;
        QVERIFY2(chromium.Start(), qPrintable(chromium.Error()));
        ChromiumRig rig(chromium);
        test::CheckBrowserSourceContract(rig);
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::SourceContractTest)
#include "test_sourcecontract.moc"
