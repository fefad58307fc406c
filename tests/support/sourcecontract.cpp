#include "tests/support/sourcecontract.h"

#include <QTest>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace winwarden::test {

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

} // namespace winwarden::test
