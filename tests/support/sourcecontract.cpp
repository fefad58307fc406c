#include "tests/support/sourcecontract.h"

#include <QTest>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace winwarden::test {

namespace {

using Kind = BrowserWindow::Kind;

const BrowserWindow* FindPage(const BrowserPass& pass, const QString& url) {
    const auto found = std::find_if(pass.windows.begin(), pass.windows.end(), [&](const auto& w) {
        return w.kind == Kind::HtmlDocument && w.url == url;
    });
    return found == pass.windows.end() ? nullptr : &*found;
}

bool Holds(const BrowserPass& pass, const WindowHandle& handle) {
    return std::any_of(pass.windows.begin(), pass.windows.end(),
                       [&](const BrowserWindow& w) { return w.handle == handle; });
}

std::vector<WindowHandle> Handles(const BrowserPass& pass) {
    std::vector<WindowHandle> handles;
    for (const BrowserWindow& window : pass.windows) {
        handles.push_back(window.handle);
    }
    return handles;
}

} // namespace

void CheckBrowserSourceContract(SourceRig& rig) {
    BrowserSource& source = rig.Source();
    const QStringList titles{u"O'Brien & <Sons> \"q\""_s, u"测试页 100%"_s, QString()};
    QStringList urls;
    for (const QString& title : titles) {
        urls.append(rig.OpenPage(title));
    }
    BrowserPass pass;
    QString missing;
    const bool shown = QTest::qWaitFor([&] { // while the pages load
        pass = source.TakePass();
        missing.clear();
        for (qsizetype i = 0; i < titles.size(); ++i) {
            const BrowserWindow* page = FindPage(pass, urls[i]);
            if (!page || page->title != titles[i]) {
                missing = u"no page titled \"%1\" at %2"_s.arg(titles[i], urls[i].left(80));
            }
        }
        return missing.isEmpty();
    });
    QVERIFY2(shown, qPrintable(missing));
    QVERIFY(pass.Read());

    const BrowserPass again = source.TakePass();
    QCOMPARE(Handles(again), Handles(pass));

    const WindowHandle closed = FindPage(pass, urls[0])->handle;
    const WindowHandle kept = FindPage(pass, urls[1])->handle;
    source.RequestClose(closed);
    QVERIFY(QTest::qWaitFor([&] { return !Holds(source.TakePass(), closed); }, 5000));
    source.RequestClose(closed); // gone already: harmless, and no other window goes
    QTest::qWait(200);
    QVERIFY(Holds(source.TakePass(), kept));

    rig.SilenceBrowsers();
    const BrowserPass silent = source.TakePass();
    QVERIFY(!silent.Read());
    QVERIFY(silent.windows.empty());
}

} // namespace winwarden::test
