// The real winwarden-host through pipes, with a stand-in for winwarden on the bridge socket.
#include "platform/bridgeprotocol.h"
#include "tests/support/nativehost.h"

#include <QJsonArray>
#include <QTest>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

QJsonObject Hello() {
    return EncodeBridgeMessage(BridgeHello{u"chromium"_s, u"1"_s, {}, u"admin"_s});
}

QJsonObject Tabs(std::initializer_list<int> ids) {
    BridgeTabs tabs;
    for (const int id : ids)
        tabs.tabs.push_back({id, u"页 %1"_s.arg(id), u"http://h.test/%1"_s.arg(id), false});
    return EncodeBridgeMessage(tabs);
}

QJsonObject Close(std::vector<qint64> ids) {
    return EncodeBridgeMessage(BridgeClose{std::move(ids)});
}

QByteArray LengthOnly(quint32 length) {
    return QByteArray(reinterpret_cast<const char*>(&length), sizeof length);
}

} // namespace

class TestHost final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Callers not allowed never reach winwarden; bad frames either way are dropped; only
    // reported tabs are closed.
    void relaysTabListsAndDropsBadFrames() {
        RuntimeFolder runtime;
        FakeWinwarden winwarden;
        QVERIFY(winwarden.Listen(BridgeSocketPath()));
        const QString other = u"chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/"_s;
        for (const QStringList& arguments :
             {QStringList{other}, QStringList{QLatin1StringView(kBridgeGeckoId), AllowedOrigin()},
              QStringList{QLatin1StringView(kBridgeGeckoId)}}) {
            HostProcess refused;
            QVERIFY(refused.Start(arguments) && refused.Process().waitForFinished(5000));
            QCOMPARE(refused.Process().exitCode(), 1);
        }
        QCOMPARE(winwarden.Connections(), 0);
        HostProcess host;
        QVERIFY(host.Start());
        host.Send(Hello());
        host.Send(Tabs({1, 2}));
        QVERIFY(winwarden.WaitForMessages(3));
        const BridgeHello hello{u"chromium"_s, u"1"_s, AllowedOrigin(), u"admin"_s};
        QCOMPARE(DecodeBridgeMessage(winwarden.Messages().at(1)), BridgeMessage(hello));
        QCOMPARE(winwarden.Messages().at(2), Tabs({1, 2}));

        // Tab 7 was never reported; junk and a close request to winwarden are dropped.
        winwarden.SendRaw(LengthOnly(4) + "\xff\xfe{}");
        winwarden.Send(Tabs({9}));
        winwarden.Send(Close({7, 1}));
        QVERIFY(host.WaitForMessages(1));
        QCOMPARE(host.Messages().front(), Close({1}));
        // A newer list replaces the reported tabs.
        host.Send(Tabs({3}));
        QVERIFY(winwarden.WaitForMessages(4));
        winwarden.Send(Close({1, 2}));
        winwarden.Send(Close({3}));
        QVERIFY(host.WaitForMessages(2));
        QCOMPARE(host.Messages(), (std::vector{Close({1}), Close({3})}));

        // Over the 64 MiB cap, sent in full: skipped without being kept.
        const quint32 oversize = kFromBrowserFrameCap + 1;
        host.SendRaw(LengthOnly(oversize) + QByteArray(oversize, '{'));
        QVERIFY(host.Flush());
        host.Send(QJsonObject{{"type"_L1, u"close"_s}, {"tabs"_L1, QJsonArray{1}}});
        host.Send(Tabs({5}));
        QVERIFY(winwarden.WaitForMessages(5, 15000));
        QCOMPARE(winwarden.Messages().back(), Tabs({5}));
        // A frame cut short by the end of input.
        host.SendRaw(LengthOnly(100) + "{\"type\"");
        host.CloseInput();
        QVERIFY(host.Process().waitForFinished(5000));
        QVERIFY(host.Process().exitStatus() == QProcess::NormalExit && !host.Process().exitCode());
        QCOMPARE(winwarden.Messages().size(), size_t(5));
        const QList<QByteArray> lines = host.Process().readAllStandardError().trimmed().split('\n');
        QCOMPARE(lines.size(), 5); // one for each bad frame either way
        QVERIFY2(lines.back().contains("不完整"), lines.back().constData());

        HostProcess firefox; // called with a manifest's path and the add-on's id
        QVERIFY(firefox.Start({u"/m.json"_s, QLatin1StringView(kBridgeGeckoId)}));
        QVERIFY(winwarden.WaitForMessages(6));
        QCOMPARE(winwarden.Messages().back()[u"caller"], QLatin1StringView(kBridgeGeckoId));
    }

    void waitsForWinwardenAndFindsItAgainAfterARestart() {
        RuntimeFolder runtime;
        HostProcess host;
        QVERIFY(host.Start());
        host.Send(Hello());
        host.Send(Tabs({1}));
        host.Send(Tabs({1, 2}));
        const QJsonObject latest = EncodeBridgeMessage(BridgeChallenge{QString(24, u'B')});
        host.Send(EncodeBridgeMessage(BridgeChallenge{QString(24, u'A')}));
        host.Send(latest);
        QTest::qWait(600); // both lists and challenges read before winwarden is there
        for (int start = 0; start < 2; ++start) {
            FakeWinwarden winwarden;
            QVERIFY(winwarden.Listen(BridgeSocketPath()));
            // On each start: the hello, only the latest list and the latest challenge, so that
            // a guard that comes up answers at once.
            QVERIFY(winwarden.WaitForMessages(3));
            QTest::qWait(200);
            QCOMPARE(winwarden.Messages().size(), size_t(3));
            QCOMPARE(winwarden.Messages()[1], Tabs({1, 2}));
            QCOMPARE(winwarden.Messages()[2], latest);
            // An answer goes to the browser as it came, whatever it proves: the extension
            // judges it, not the host.
            const QJsonObject proof = EncodeBridgeMessage(
                BridgeProof{QString(24, u'B'), 1700000000000 + start, u"AAAA"_s});
            winwarden.Send(proof);
            winwarden.Send(Close({2}));
            QVERIFY(host.WaitForMessages(2 * size_t(start) + 2));
            QCOMPARE(host.Messages()[2 * size_t(start)], proof);
            // Whether the monitor is the system guard is the host's to say, not the monitor's.
            winwarden.Send(EncodeBridgeMessage(BridgeAlive{true}));
            QVERIFY(QTest::qWaitFor([&] { return host.Alives().size() == size_t(start) + 1; }));
            QCOMPARE(host.Alives().back(), EncodeBridgeMessage(BridgeAlive{false}));
        }
        QCOMPARE(host.Process().state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestHost)
#include "test_host.moc"
