// The lookup by caption and the union of several sources, over passes the test makes.
#include "res/texts.h"
#include "survey/shellwindows.h"
#include "tests/support/fakesource.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

using Kind = BrowserWindow::Kind;

BrowserWindow Window(Kind kind, const QString& title, const QString& id = {},
                     const QString& url = u"https://b.test/"_s) {
    return {kind, title, url, WindowHandle{-1, u"b"_s, id.isEmpty() ? title : id}, {}};
}

} // namespace

class BrowserSnapshotTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A page of the browser's own is never found, whatever its title.
    void aWindowIsFoundByItsExactCaptionInThePass() {
        const QString& suffix = text::kCaptionSuffix;
        BrowserPass pass;
        pass.browsersWatched = pass.browsersRead = 1;
        pass.windows = {Window(Kind::NoHtmlDocument, u"W"_s),
                        Window(Kind::HtmlDocument, u"A & B"_s, u"tab"_s,
                               u"chrome://new-tab-page-third-party/"_s),
                        Window(Kind::HtmlDocument, u"A & B"_s, u"blank"_s, {}),
                        Window(Kind::HtmlDocument, {}, u"untitled"_s),
                        Window(Kind::HtmlDocument, u"A & B"_s, u"first"_s),
                        Window(Kind::HtmlDocument, u"A & B"_s, u"second"_s)};
        QList<WindowHandle> closed;
        TopLevelWindows windows(pass, [&](const WindowHandle& h) { closed.append(h); });
        for (const QString& caption : {u"A & B"_s, u"a & b"_s + suffix, u"W"_s + suffix, suffix})
            QVERIFY2(!windows.FindByCaption(caption), qPrintable(caption));
        // A window asked to close is passed over: the next of that caption is found.
        QStringList found;
        for (int i = 0; i < 3; ++i) {
            const auto window = windows.FindByCaption(u"A & B"_s + suffix);
            found.append(window ? window->id : u"none"_s);
            if (window)
                windows.RequestClose(*window);
        }
        QCOMPARE(found, QStringList({u"first"_s, u"second"_s, u"none"_s}));
        QCOMPARE(closed.size(), 2);
    }

    // Sources follow one another in the order given; a close reaches the source that yielded
    // the window, and a handle of no source reaches none.
    void aUnionKeepsItsSourcesOrderAndRoutesCloses() {
        std::vector<std::unique_ptr<BrowserSource>> sources;
        std::vector<test::FakeBrowserSource*> fakes;
        for (const QStringList& pages : {QStringList{u"a1"_s, u"u"_s, u"a2"_s, u"u"_s},
                                         QStringList{}, QStringList{u"c1"_s, u"u"_s}}) {
            fakes.push_back(new test::FakeBrowserSource);
            fakes.back()->SetPages(pages);
            fakes.back()->SetUnreadable(pages.isEmpty());
            sources.emplace_back(fakes.back());
        }
        const std::unique_ptr<BrowserSource> all = MakeBrowserSourceUnion(std::move(sources));
        const BrowserPass pass = all->TakePass();
        QStringList order;
        for (const BrowserWindow& window : pass.windows)
            order.append(window.title + u'@' + QString::number(window.handle.source));
        QCOMPARE(order, QStringList({u"a1@0"_s, u"a2@0"_s, u"c1@2"_s}));
        QCOMPARE(std::pair(pass.browsersWatched, pass.browsersRead), std::pair(3, 2));

        all->RequestClose(pass.windows[2].handle);
        all->RequestClose(WindowHandle{3, u"fake"_s, u"a1"_s});
        all->RequestClose(WindowHandle{-1, u"fake"_s, u"a1"_s});
        QCOMPARE(fakes[0]->CloseRequests().size() + fakes[1]->CloseRequests().size(), 0);
        QCOMPARE(fakes[2]->CloseRequestsFor(u"c1"_s), 1);

        fakes[0]->SetUnreadable(true);
        fakes[2]->SetUnreadable(true);
        QVERIFY(!all->TakePass().Read());
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::BrowserSnapshotTest)
#include "test_browsersnapshot.moc"
