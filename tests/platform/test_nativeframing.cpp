// The bridge's messages are read strictly: anything unexpected is no message at all.
#include "platform/bridgeprotocol.h"
#include "platform/nativeframing.h"

#include <QJsonDocument>
#include <QTest>

using namespace winwarden;
using namespace Qt::StringLiterals;

namespace {

BridgeMessage Decode(const char* json) {
    return DecodeBridgeMessage(QJsonDocument::fromJson(json).object());
}

} // namespace

class TestNativeFraming final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void messagesAreReadStrictly() {
        QCOMPARE(
            Decode(
                R"({"type":"tabs","tabs":[{"id":3,"title":"t","url":"u","incognito":true,"active":true,"focused":false},{"id":-1}]})"),
            BridgeMessage(
                BridgeTabs{{{3, u"t"_s, u"u"_s, true, true, false}, {-1, {}, {}, false}}}));
        QCOMPARE(Decode(R"({"type":"close","tabs":[9007199254740991]})"),
                 BridgeMessage(BridgeClose{{9007199254740991}}));
        QCOMPARE(Decode(R"({"type":"sites","block":["a.test","b.test"],"allow":[]})"),
                 BridgeMessage(BridgeSites{{u"a.test"_s, u"b.test"_s}, {}, false}));
        QCOMPARE(Decode(R"({"type":"sites","block":[],"allow":["c.test"],"more":true})"),
                 BridgeMessage(BridgeSites{{}, {u"c.test"_s}, true}));
        QCOMPARE(
            Decode(
                R"({"type":"sites","block":[],"allow":[],"all":true,"reasons":{"":"夜里","a.test":"用完"}})"),
            BridgeMessage(
                BridgeSites{{}, {}, false, true, {{u""_s, u"夜里"_s}, {u"a.test"_s, u"用完"_s}}}));
        QCOMPARE(Decode(R"({"type":"notice","text":"还有 5 分钟"})"),
                 BridgeMessage(BridgeNotice{u"还有 5 分钟"_s}));
        QCOMPARE(Decode(R"({"type":"challenge","nonce":"MDEyMzQ1Njc4OWFiY2RlZg=="})"), // 16 bytes
                 BridgeMessage(BridgeChallenge{u"MDEyMzQ1Njc4OWFiY2RlZg=="_s}));
        QCOMPARE(Decode(R"({"type":"proof","nonce":"n","time":1765000000000,"signature":"c2ln"})"),
                 BridgeMessage(BridgeProof{u"n"_s, 1765000000000, u"c2ln"_s}));
        QVERIFY(std::holds_alternative<std::monostate>(DecodeBridgeMessage(EncodeBridgeMessage(
            BridgeChallenge{QString::fromLatin1(QByteArray(65, 'x').toBase64())}))));
        // A challenge too short to be fresh, too long, or not base64; a proof without a time.
        for (const char* bad :
             {R"({"type":"challenge","nonce":"MDEyMzQ1Njc4OWFiY2Rl"})",
              R"({"type":"challenge","nonce":"MDEyMzQ1Njc4OWFiY2RlZg==%"})",
              R"({"type":"challenge"})", R"({"type":"proof","nonce":"n","signature":"c2ln"})",
              R"({"type":"proof","nonce":"n","time":"1","signature":"c2ln"})",
              R"({"type":"tabs","tabs":[{"id":1.5}]})", R"({"type":"tabs","tabs":[{"id":"1"}]})",
              R"({"type":"tabs","tabs":[{"id":1,"focused":1}]})",
              R"({"type":"close","tabs":[9007199254740992]})", R"({"type":"run","command":"rm"})",
              R"({"type":"hello","browser":[]})", R"({"type":"sites","block":["a.test"]})",
              R"({"type":"sites","block":[1],"allow":[]})",
              R"({"type":"sites","block":[],"allow":[],"all":1})",
              R"({"type":"sites","block":[],"allow":[],"reasons":{"a.test":2}})",
              R"({"type":"notice","text":["x"]})"}) {
            QVERIFY2(std::holds_alternative<std::monostate>(Decode(bad)), bad);
        }
    }

    // 10,000 ordinary hosts go in one message; a set past the browsers' limit goes in parts
    // that each fit and together hold every host in order and every reason, each part saying
    // whether every page is refused, and a name too long for any message is named, not lost
    // unseen.
    void siteSetsAreSplitToFitTheBrowsers() {
        BridgeSites ordinary;
        for (int i = 0; i < 10000; ++i)
            ordinary.block.append(u"site-%1.example.com"_s.arg(i));
        QCOMPARE(SplitBridgeSites(ordinary, kToBrowserFrameCap).size(), size_t(1));

        BridgeSites large;
        for (int i = 0; i < 6000; ++i)
            (i % 3 ? large.block : large.allow).append(u"%1.%2"_s.arg(i).arg(QString(240, u'a')));
        large.block.insert(7, QString(kToBrowserFrameCap, u'x'));
        large.all = true;
        for (int i = 0; i < 3000; ++i)
            large.reasons.insert(u"%1.%2"_s.arg(i).arg(QString(240, u'a')), QString(100, u'用'));
        QStringList left;
        const std::vector<BridgeSites> parts = SplitBridgeSites(large, kToBrowserFrameCap, &left);
        QCOMPARE(left, QStringList{QString(kToBrowserFrameCap, u'x')});
        QVERIFY(parts.size() > 1);
        BridgeSites joined;
        for (const BridgeSites& part : parts) {
            QVERIFY(EncodeFrame(EncodeBridgeMessage(part), kToBrowserFrameCap));
            QCOMPARE(part.more, &part != &parts.back());
            QVERIFY(part.all);
            joined.block += part.block;
            joined.allow += part.allow;
            joined.reasons.insert(part.reasons);
        }
        joined.all = true;
        large.block.removeAt(7);
        QCOMPARE(joined, large);
    }
};

QTEST_APPLESS_MAIN(TestNativeFraming)
#include "test_nativeframing.moc"
