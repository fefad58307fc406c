#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <functional>
#include <optional>
#include <vector>

namespace winwarden {

// Native messaging frames: a 32-bit length in the machine's byte order, then that many bytes
// of UTF-8 JSON, one object per frame. The browser and winwarden-host speak them over the
// host's standard input and output; winwarden-host and winwarden speak them over the bridge
// socket.

// The largest frame a browser accepts from its native host; a larger one closes the port.
inline constexpr qint64 kToBrowserFrameCap = 1024 * 1024;
// The largest frame a browser sends to its native host, and so the largest tab list.
inline constexpr qint64 kFromBrowserFrameCap = 64 * 1024 * 1024;

// `message` as one frame; nothing when its JSON would be larger than `cap` bytes.
std::optional<QByteArray> EncodeFrame(const QJsonObject& message, qint64 cap);

// Splits a byte stream into frames and decodes them. A frame larger than the cap is skipped
// without being kept in memory; an empty frame, bad UTF-8, JSON that is not an object, or bad
// JSON is dropped. Each drop is reported through `onDrop` (one line, standard error by
// default) and the stream carries on with the next frame.
class FrameReader final {
public:
    using DropReport = std::function<void(const QByteArray& why)>;
    explicit FrameReader(qint64 cap, DropReport onDrop = {});

    // Takes the next bytes of the stream; the messages whose frames they complete.
    std::vector<QJsonObject> Feed(QByteArrayView bytes);
    // True while a frame has begun but not ended: at the end of the stream, it is truncated.
    bool InFrame() const { return !m_buffer.isEmpty() || m_skip > 0; }

private:
    void Drop(const QByteArray& why) const;

    qint64 m_cap;
    DropReport m_onDrop;
    QByteArray m_buffer; // the part of the current frame read so far, length included
    qint64 m_skip = 0;   // bytes still to skip of a frame over the cap
};

} // namespace winwarden
