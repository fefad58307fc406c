// Matching as plain functions: titles and hosts normalised, and which rule decides for a page.
#include "match/matchindex.h"
#include "match/normalize.h"

#include <QTest>

using namespace winwarden;
using namespace Qt::StringLiterals;

class TestMatching final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every trick that keeps a word from being seen is undone, the same on both sides.
    void titlesAreComparedAsPeopleReadThem() {
        const QList<std::pair<QString, QString>> cases{
            {u"Ga\u200Bme\u200D O\u00ADver\uFEFF"_s, u"game over"_s},
            {u"ＧＡＭＥ\u3000Ｏｖｅｒ"_s, u"game over"_s},
            {u"  Game\t\n \u00A0over  "_s, u"game over"_s},
            {u"  Game \t OVER "_s, u"game over"_s}, // plain ASCII
            {u"ﬁnal STRASSE Straße GROẞ"_s, u"final strasse strasse gross"_s},
            {u"cafe\u200B\u0301 caf\u00E9"_s, u"caf\u00E9 caf\u00E9"_s},
            {u"赌\uFE0F场\U000E0067"_s, u"赌场"_s},
            {u"\u200B\u200C\u2060\u034F"_s, u""_s},
        };
        for (const auto& [text, normal] : cases)
            QCOMPARE(NormalizeTitle(text), normal);
    }

    void hostsAreCanonical() {
        const QList<std::pair<QString, QString>> good{
            {u"Game.Example."_s, u"game.example"_s},
            {u" https://user@WWW.Game.Example.:8080/x?y#z "_s, u"www.game.example"_s},
            {u"例子.中国"_s, u"xn--fsqu00a.xn--fiqs8s"_s},
            {u"ＧＡＭＥ.example"_s, u"game.example"_s},
        };
        for (const auto& [text, host] : good)
            QCOMPARE(CanonicalHost(text), std::optional(host));
        for (const QString& bad : {u""_s, u"  "_s, u"game example"_s, u"*.game.example"_s,
                                   u"a..b"_s, u"."_s, u"https://"_s, u"[::1]"_s, u"-x.example"_s})
            QVERIFY2(!CanonicalHost(bad), qPrintable(bad));
        QCOMPARE(DisplayHost(u"xn--fsqu00a.xn--fiqs8s"_s), u"例子.中国"_s);

        const QList<std::pair<QString, QString>> pages{
            {u"https://WWW.Game.Example.:443/x"_s, u"www.game.example"_s},
            {u"http://例子.中国/"_s, u"xn--fsqu00a.xn--fiqs8s"_s},
            {u"view-source:https://game.example/"_s, u"game.example"_s},
            {u"chrome://settings/"_s, u""_s},
            {u"file:///tmp/game.example"_s, u""_s},
            {u"data:text/html,https://game.example"_s, u""_s},
        };
        for (const auto& [url, host] : pages)
            QCOMPARE(PageHost(url), host);
    }

    // The decision order: own title rule, then the longest site, then words; allowed sites
    // stay allowed, and only rules that mean something take part.
    void theRuleThatDecides() {
        using Kind = MatchRule::Kind;
        const MatchIndex index({
            {7, Kind::Site, u"Game.Example"_s, false}, // a second rule for one host: loses
            {1, Kind::Site, u"https://game.example/"_s, true},
            {2, Kind::Site, u"school.example"_s, false},
            {3, Kind::Site, u"games.school.example"_s, true},
            {4, Kind::TitleWord, u"Ｇame"_s, true},
            {5, Kind::TitleWord, u"\u200B\u2060"_s, true},
            {6, Kind::TitleWord, u"homework"_s, false},
            {8, Kind::Site, u"*.bad"_s, true},
            {9, Kind::TitleWord, u"赌场"_s, true},
            {10, Kind::Site, u"例子.中国"_s, true},
            {13, Kind::Site, u"10.0.0.1"_s, true},
        });
        using By = Verdict::By;
        // Whether the title's own rule blocks, the title, the address; what decides and how.
        const QList<std::tuple<bool, QString, QString, By, bool, qint64>> cases{
            {false, u"Home"_s, u"https://www.game.example:8443/x"_s, By::Site, true, 1},
            {false, u"Game news"_s, u"https://school.example/"_s, By::Site, false, 2},
            {false, u"Home"_s, u"http://a.games.school.example/"_s, By::Site, true, 3},
            {false, u"Home"_s, u"https://notgame.example/"_s, By::Nothing, false, 0},
            {false, u"ｇａ\u200Bｍｅ time"_s, u"https://other.example/"_s, By::TitleWord, true, 4},
            {true, u"Home"_s, u"https://school.example/"_s, By::TitleRule, true, 0},
            {false, u"homework"_s, u"https://other.example/"_s, By::Nothing, false, 0},
            {false, u"在线赌场"_s, u"about:blank"_s, By::TitleWord, true, 9},
            {false, u"x"_s, u"https://www.xn--fsqu00a.xn--fiqs8s/"_s, By::Site, true, 10},
            {false, u"Home"_s, u"http://10.0.0.1/"_s, By::Site, true, 13},
            {false, u"Home"_s, u"http://20.10.0.0.1/"_s, By::Nothing, false, 0},
        };
        for (const auto& [titleBlocks, title, url, by, blocked, rule] : cases) {
            const Verdict verdict = index.Decide(titleBlocks, title, url);
            QVERIFY2(verdict.by == by && verdict.blocked == blocked,
                     qPrintable(title + u' ' + url));
            QCOMPARE(verdict.rule ? verdict.rule->id : 0, rule);
        }
        QCOMPARE(index.SitesBlocked(),
                 (QStringList{u"10.0.0.1"_s, u"game.example"_s, u"games.school.example"_s,
                              u"xn--fsqu00a.xn--fiqs8s"_s}));
        QCOMPARE(index.SitesAllowed(), QStringList{u"school.example"_s});
        QVERIFY(!MatchIndex({{1, Kind::TitleWord, u"\u200B"_s, true}}).HasWords());
    }

    // Words found wherever they stand: also when they begin inside a longer word's partial
    // match, and in plain ASCII titles written in any case.
    void wordsHiddenInsideOtherWordsOrCase() {
        using Kind = MatchRule::Kind;
        const MatchIndex index({
            {1, Kind::TitleWord, u"cartoon"_s, true},
            {2, Kind::TitleWord, u"art"_s, true},
            {3, Kind::TitleWord, u"Poker Night"_s, true},
        });
        const QList<std::pair<QString, qint64>> cases{
            {u"cartography"_s, 2},        {u"CARTOONS"_s, 2}, // the word that ends first decides
            {u"POKER   night live"_s, 3}, {u"Free ART lessons"_s, 2}, {u"poke her night"_s, 0},
        };
        for (const auto& [title, rule] : cases) {
            const Verdict verdict = index.Decide(false, title, u"https://other.example/"_s);
            QVERIFY2(verdict.blocked == (rule != 0), qPrintable(title));
            QCOMPARE(verdict.rule ? verdict.rule->id : 0, rule);
        }
    }
};

QTEST_APPLESS_MAIN(TestMatching)
#include "test_matching.moc"
