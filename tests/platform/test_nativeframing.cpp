// The bridge's messages are read strictly: anything unexpected is no message at all.
#include "platform/bridgeprotocol.h"

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
