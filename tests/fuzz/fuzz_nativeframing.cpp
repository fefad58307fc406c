// Any bytes a browser or a native host may send: framing, in any split, and message decoding.
#include "platform/bridgeprotocol.h"
#include "platform/nativeframing.h"

#include <cstddef>
#include <cstdint>

using namespace winwarden;

namespace {

std::vector<QJsonObject> Read(QByteArrayView bytes, qsizetype split) {
    FrameReader reader(4096, [](const QByteArray&) {});
    std::vector<QJsonObject> messages = reader.Feed(bytes.first(split));
    for (QJsonObject& message : reader.Feed(bytes.sliced(split)))
        messages.push_back(std::move(message));
    return messages;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte says where the stream is cut in two; the cut never changes what is read.
    const QByteArrayView bytes(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    const qsizetype split = bytes.isEmpty() ? 0 : data[0] % (bytes.size() + 1);
    const std::vector<QJsonObject> whole = Read(bytes, 0);
    if (Read(bytes, split) != whole)
        __builtin_trap();
    for (const QJsonObject& message : whole) {
        // What decodes encodes back to the same message.
        const BridgeMessage decoded = DecodeBridgeMessage(message);
        const auto again = [](const auto& value) -> BridgeMessage {
            if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::monostate>)
                return value;
            else
                return DecodeBridgeMessage(EncodeBridgeMessage(value));
        };
        if (std::visit(again, decoded) != decoded)
            __builtin_trap();
    }
    return 0;
}
