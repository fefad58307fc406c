// The guard's key, and its bridge answering the browsers' challenges with it. (The extension's
// own checks of an answer, in a real browser: e2e.test_e2e_guard and e2e.test_e2e_policy.)
#include "platform/bridgeprotocol.h"
#include "signing/guardkey.h"
#include "sources/bridge/bridgesource.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/nativehost.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

mode_t ModeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 07777;
}

QString Nonce(char fill) {
    return QString::fromLatin1(QByteArray(32, fill).toBase64());
}

} // namespace

class TestSigning final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Made once, for its owner's eyes only, and kept: a second start signs with the same key. A
    // signature verifies under the public half only for its own message, whole and unchanged.
    void theKeyIsMadeOnceKeptPrivateAndItsSignaturesVerify() {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"guard-key.pem"_s);
        QString error;
        const auto key = GuardKey::LoadOrCreate(path, {::geteuid(), ::getegid()}, &error);
        QVERIFY2(key, qPrintable(error));
        QCOMPARE(ModeOf(path), mode_t(0600));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner |
                                                QFile::ReadGroup | QFile::ReadOther));
        const auto again = GuardKey::LoadOrCreate(path, {::geteuid(), ::getegid()}, &error);
        QVERIFY2(again, qPrintable(error));
        QCOMPARE(ModeOf(path), mode_t(0600)); // what others could read is taken away
        QCOMPARE(again->PublicKey(), key->PublicKey());

        const QByteArray message = BridgeProofText(Nonce('a'), 1765000000000);
        const QByteArray signature = key->Sign(message);
        QCOMPARE(signature.size(), 64);
        QVERIFY(VerifyGuardSignature(key->PublicKey(), message, signature));
        QByteArray flipped = signature;
        flipped[40] = char(flipped[40] ^ 1);
        for (const auto& [text, signed_] :
             {std::pair{BridgeProofText(Nonce('b'), 1765000000000), signature},
              {BridgeProofText(Nonce('a'), 1765000000001), signature},
              {message, flipped},
              {message, signature.left(63)},
              {message, signature + '\0'}})
            QVERIFY(!VerifyGuardSignature(key->PublicKey(), text, signed_));
        const auto other =
            GuardKey::LoadOrCreate(folder.filePath(u"k"_s), {::geteuid(), ::getegid()}, &error);
        QVERIFY(other && !VerifyGuardSignature(other->PublicKey(), message, signature));

        // A file that holds no key is never replaced: policies may name the key it held.
        const QString broken = folder.filePath(u"broken.pem"_s);
        QVERIFY(WriteFile(broken, "not a key"));
        QVERIFY(!GuardKey::LoadOrCreate(broken, {::geteuid(), ::getegid()}, &error));
        QVERIFY2(error.contains(u"不是 P-256 签名密钥"_s), qPrintable(error));
        QFile file(broken);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "not a key");
    }

    // The guard's bridge answers a challenge at once, signed over the nonce and its time; a
    // malformed challenge cuts the client off, and a client after signatures by the thousand
    // gets a few a second. A user's own bridge has nothing to sign with, and answers nothing.
    void onlyTheGuardsBridgeAnswersChallenges() {
        QTemporaryDir folder;
        QString error;
        const auto key =
            GuardKey::LoadOrCreate(folder.filePath(u"k"_s), {::geteuid(), ::getegid()}, &error);
        QVERIFY(key);
        const QString path = folder.filePath(u"bridge"_s);
        BridgeWatch watch{.running = {}, .say = [](const QString&) {
                          }};
        watch.sign = [&](QByteArrayView message) {
            return key->Sign(message);
        };
        const auto guard = MakeSystemBridgeSource(path, watch);
        BridgeClient client;
        QVERIFY(client.Connect(path));
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        client.Send(EncodeBridgeMessage(BridgeChallenge{Nonce('c')}));
        QVERIFY(client.WaitForMessages(1));
        const BridgeMessage answer = DecodeBridgeMessage(client.Messages().front());
        const auto* proof = std::get_if<BridgeProof>(&answer);
        QVERIFY(proof && proof->nonce == Nonce('c'));
        QVERIFY(proof->time >= before && proof->time <= QDateTime::currentMSecsSinceEpoch());
        QVERIFY(VerifyGuardSignature(key->PublicKey(), BridgeProofText(proof->nonce, proof->time),
                                     QByteArray::fromBase64(proof->signature.toLatin1())));

        for (int i = 0; i < 50; ++i)
            client.Send(EncodeBridgeMessage(BridgeChallenge{Nonce(char('d' + i % 20))}));
        QTest::qWait(500);
        const size_t answered = client.Messages().size();
        QVERIFY2(answered > 1 && answered <= 11, qPrintable(QString::number(answered)));
        client.Send(QJsonObject{{u"type"_s, u"challenge"_s}, {u"nonce"_s, u"c2hvcnQ="_s}});
        QVERIFY(client.WaitForCutOff());

        RuntimeFolder runtime;
        const auto own = MakeBridgeSource({.running = {}});
        BridgeClient browser;
        QVERIFY(browser.Connect(BridgeSocketPath()));
        browser.Send(EncodeBridgeMessage(BridgeChallenge{Nonce('e')}));
        browser.Send(EncodeBridgeMessage(BridgeTabs{{{1, u"页"_s, u"http://h.test/"_s, false}}}));
        QVERIFY(QTest::qWaitFor([&] { return own->TakePass().windows.size() == 1; }, 5000));
        QTest::qWait(200);
        for (const QJsonObject& message : browser.Messages())
            QVERIFY(message[u"type"] != u"proof"_s);
        QVERIFY(!browser.WaitForCutOff(300)); // the challenge cut nothing off
    }
};

QTEST_GUILESS_MAIN(TestSigning)
#include "test_signing.moc"
