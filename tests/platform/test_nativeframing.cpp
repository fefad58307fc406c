// Native-messaging frames and the bridge's messages, byte by byte and field by field.
#include "platform/bridgeprotocol.h"
#include "platform/nativeframing.h"

#include <QJsonDocument>
#include <QTest>
#include <cstring>

using namespace winwarden;
using namespace Qt::StringLiterals;

namespace {

QByteArray Raw(quint32 length, const QByteArray& body) {
    QByteArray bytes(sizeof length, Qt::Uninitialized);
    std::memcpy(bytes.data(), &length, sizeof length);
    return bytes + body;
}

BridgeMessage Decode(const char* json) {
    return DecodeBridgeMessage(QJsonDocument::fromJson(json).object());
}

} // namespace

class TestNativeFraming final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void framesSurviveAnySplitAndBadOnesAreSkipped() {
        const QJsonObject a{{"n"_L1, 1}}, b{{"n"_L1, u"二"_s}};
        // Over the cap of 16 and sent in full, then good, bad and empty frames.
        const QByteArray stream = Raw(40, QByteArray(40, '{')) + *EncodeFrame(a, 16) +
                                  Raw(2, "\xc0\xaf") + Raw(0, {}) + Raw(3, "[1]") +
                                  *EncodeFrame(b, 16);
        QList<QByteArray> drops;
        FrameReader reader(16, [&](const QByteArray& why) { drops.append(why); });
        std::vector<QJsonObject> messages;
        for (const char byte : stream) {
            for (QJsonObject& message : reader.Feed(QByteArrayView(&byte, 1)))
                messages.push_back(std::move(message));
        }
        QCOMPARE(messages, (std::vector{a, b}));
        QVERIFY(drops.size() == 4 && !reader.InFrame());
        reader.Feed(Raw(5, "{"));
        QVERIFY(reader.InFrame());
        QVERIFY(!EncodeFrame(QJsonObject{{"long"_L1, QString(20, u'x')}}, 16));
    }

    void messagesAreReadStrictly() {
        QCOMPARE(
            Decode(
                R"({"type":"tabs","tabs":[{"id":3,"title":"t","url":"u","incognito":true},{"id":-1}]})"),
            BridgeMessage(BridgeTabs{{{3, u"t"_s, u"u"_s, true}, {-1, {}, {}, false}}}));
        QCOMPARE(Decode(R"({"type":"close","tabs":[9007199254740991]})"),
                 BridgeMessage(BridgeClose{{9007199254740991}}));
        for (const char* bad :
             {R"({"type":"tabs","tabs":[{"id":1.5}]})", R"({"type":"tabs","tabs":[{"id":"1"}]})",
              R"({"type":"tabs","tabs":[{"id":1,"incognito":"no"}]})",
              R"({"type":"tabs","tabs":[7]})", R"({"type":"tabs"})",
              R"({"type":"close","tabs":[9007199254740992]})", R"({"type":"run","command":"rm"})",
              R"({"type":"hello","browser":[]})", R"({"tabs":[]})"}) {
            QVERIFY2(std::holds_alternative<std::monostate>(Decode(bad)), bad);
        }
    }
};

QTEST_APPLESS_MAIN(TestNativeFraming)
#include "test_nativeframing.moc"
