// The tray's word on closed pages: one message for a burst of closes, none for a page told of
// a moment ago.
#include "app/closenotifier.h"

#include <QTest>

using namespace winwarden;
using namespace Qt::StringLiterals;

class TestCloseNotifier final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void burstsMakeOneMessageAndRepeatsNone() {
        QStringList shown;
        CloseNotifier notifier([&](const QString& text) { shown << text; }, nullptr, 50, 400);
        for (int round = 0; round < 5; ++round)
            for (const QString& title : {u"一"_s, u"二"_s, u"三"_s, u"四"_s})
                notifier.OnWindowClosing(title);
        QTRY_COMPARE(shown, QStringList{u"已关闭 4 个网页：一、二、三等"_s});
        notifier.OnWindowClosing(u"一"_s); // a page that keeps coming back, told of just now
        notifier.OnWindowClosing(u"五"_s);
        QTRY_COMPARE(shown.size(), 2);
        QCOMPARE(shown.last(), u"已关闭：五"_s);
        QTest::qWait(450);
        notifier.OnWindowClosing(u"一"_s); // a minute on (here: 400 ms) it is news again
        QTRY_COMPARE(shown.size(), 3);
        QCOMPARE(shown.last(), u"已关闭：一"_s);
    }
};

QTEST_GUILESS_MAIN(TestCloseNotifier)
#include "test_closenotifier.moc"
