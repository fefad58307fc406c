// Any bytes on the guard's control socket, either way: a window's requests as the guard reads
// them (any local user may write them), and the guard's replies and pushes as a window reads
// them. Whatever decodes encodes back to what decodes the same.
#include "control/allowanceprotocol.h"
#include "control/controlprotocol.h"
#include "platform/nativeframing.h"

#include <QJsonDocument>
#include <cstddef>
#include <cstdint>

using namespace winwarden;

namespace {

std::vector<QJsonObject> Read(QByteArrayView bytes, qsizetype split) {
    FrameReader reader(kControlFrameCap, [](const QByteArray&) {});
    std::vector<QJsonObject> messages = reader.Feed(bytes.first(split));
    for (QJsonObject& message : reader.Feed(bytes.sliced(split)))
        messages.push_back(std::move(message));
    return messages;
}

void Require(bool holds) {
    if (!holds)
        __builtin_trap();
}

// The guard's side of a message the window decoded; nothing for one it did not.
std::optional<QJsonObject> Encode(const GuardMessage& message) {
    struct {
        std::optional<QJsonObject> operator()(std::monostate) const { return std::nullopt; }
        std::optional<QJsonObject> operator()(const GuardWelcome& m) const {
            return EncodeWelcome(m.admin, m.status);
        }
        std::optional<QJsonObject> operator()(const GuardStatus& m) const {
            return EncodeStatus(m.status);
        }
        std::optional<QJsonObject> operator()(const GuardSeen& m) const {
            return EncodeSeen(m.windows);
        }
        std::optional<QJsonObject> operator()(const GuardCycle&) const { return EncodeCycleEnd(); }
        std::optional<QJsonObject> operator()(const GuardClosing& m) const {
            return EncodeClosing(m.title, m.url);
        }
        std::optional<QJsonObject> operator()(const GuardStoreFailed& m) const {
            return EncodeStoreFailed(m.message);
        }
        std::optional<QJsonObject> operator()(const GuardReply& m) const {
            return m.error ? EncodeRefusal(m.id, *m.error) : EncodeReply(m.id, m.result);
        }
    } encode;
    return std::visit(encode, message);
}

// A reply's result read as each command's would be.
void ReadResult(const QJsonValue& result) {
    if (const auto rules = DecodeRules(result))
        Require(DecodeRules(EncodeRules(*rules)) == rules);
    if (const auto rule = DecodeRule(result))
        Require(DecodeRule(EncodeRule(*rule)) == rule);
    if (const auto rules = DecodeMatchRules(result))
        Require(DecodeMatchRules(EncodeMatchRules(*rules)) == rules);
    if (const auto rule = DecodeMatchRule(result))
        Require(DecodeMatchRule(EncodeMatchRule(*rule)) == rule);
    if (const auto uses = DecodeAllowanceUses(result))
        Require(DecodeAllowanceUses(EncodeAllowanceUses(*uses)) == uses);
    (void)DecodeTruth(result);
    (void)DecodeCount(result);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    std::vector<QJsonObject> whole;
    if (data[0] == '{') {
        // One message as its JSON text (the seeds in corpus/ are such): mutations stay close
        // to messages the decoders take, though no instrumented code parses the JSON.
        const QJsonDocument document = QJsonDocument::fromJson(
            QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
        if (!document.isObject())
            return 0;
        whole.push_back(document.object());
    } else {
        // The first byte says where the stream is cut in two; the cut never changes what is
        // read.
        const QByteArrayView bytes(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
        const qsizetype split = bytes.isEmpty() ? 0 : data[0] % (bytes.size() + 1);
        whole = Read(bytes, 0);
        Require(Read(bytes, split) == whole);
    }
    for (const QJsonObject& message : whole) {
        const ControlRequest request = DecodeControlRequest(message);
        if (const auto* call = std::get_if<ControlCall>(&request)) {
            Require(call->args.size() == ControlCommandFields(call->command).size());
            (void)AnyoneMayAsk(*call);
            Require(DecodeControlRequest(EncodeControlRequest(*call)) == request);
        } else if (const auto* watch = std::get_if<ControlWatch>(&request)) {
            Require(DecodeControlRequest(EncodeControlRequest(*watch)) == request);
        }
        const GuardMessage pushed = DecodeGuardMessage(message);
        if (const std::optional<QJsonObject> encoded = Encode(pushed)) {
            Require(Encode(DecodeGuardMessage(*encoded)) == encoded);
        }
        if (const auto* reply = std::get_if<GuardReply>(&pushed))
            ReadResult(reply->result);
    }
    return 0;
}
