#include "platform/nativeframing.h"

#include "platform/programlog.h"

#include <QJsonDocument>
#include <QStringDecoder>
#include <cstring>

namespace winwarden {

namespace {

constexpr qsizetype kLengthSize = sizeof(quint32);

bool IsUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)decoder.decode(bytes);
    return !decoder.hasError();
}

} // namespace

std::optional<QByteArray> EncodeFrame(const QJsonObject& message, qint64 cap) {
    const QByteArray json = QJsonDocument(message).toJson(QJsonDocument::Compact);
    if (json.size() > cap) {
        return std::nullopt;
    }
    const auto length = static_cast<quint32>(json.size());
    QByteArray frame(kLengthSize, Qt::Uninitialized);
    std::memcpy(frame.data(), &length, kLengthSize);
    return frame + json;
}

FrameReader::FrameReader(qint64 cap, DropReport onDrop) : m_cap(cap), m_onDrop(std::move(onDrop)) {}

void FrameReader::Drop(const QByteArray& why) const {
    if (m_onDrop) {
        m_onDrop(why);
    } else {
        LogLine(QStringLiteral("丢弃了一条消息：%1").arg(QString::fromUtf8(why)));
    }
}

std::vector<QJsonObject> FrameReader::Feed(QByteArrayView bytes) {
    std::vector<QJsonObject> messages;
    while (!bytes.isEmpty()) {
        if (m_skip > 0) {
            const qint64 skipped = std::min<qint64>(m_skip, bytes.size());
            m_skip -= skipped;
            bytes = bytes.sliced(skipped);
            continue;
        }
        // Gather the length first, then the body, taking no more than this frame's bytes.
        qint64 wanted = kLengthSize;
        if (m_buffer.size() >= kLengthSize) {
            quint32 length = 0;
            std::memcpy(&length, m_buffer.constData(), kLengthSize);
            wanted += length;
        }
        const qint64 taken = std::min<qint64>(wanted - m_buffer.size(), bytes.size());
        m_buffer.append(bytes.first(taken));
        bytes = bytes.sliced(taken);
        if (m_buffer.size() < kLengthSize) {
            break;
        }
        quint32 length = 0;
        std::memcpy(&length, m_buffer.constData(), kLengthSize);
        if (length > m_cap) {
            Drop("消息长 " + QByteArray::number(length) + " 字节，超过上限 " +
                 QByteArray::number(m_cap) + " 字节");
            m_skip = length - (m_buffer.size() - kLengthSize);
            m_buffer.clear();
            continue;
        }
        if (m_buffer.size() < kLengthSize + qsizetype(length)) {
            continue; // the length just completed; the body is in the rest of the bytes
        }
        const QByteArrayView body = QByteArrayView(m_buffer).sliced(kLengthSize);
        if (length == 0) {
            Drop("空消息");
        } else if (!IsUtf8(body)) {
            Drop("消息不是 UTF-8 文本");
        } else {
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(body.toByteArray(), &error);
            if (error.error != QJsonParseError::NoError) {
                Drop("消息不是 JSON：" + error.errorString().toUtf8());
            } else if (!document.isObject()) {
                Drop("消息不是 JSON 对象");
            } else {
                messages.push_back(document.object());
            }
        }
        m_buffer.clear();
    }
    return messages;
}

} // namespace winwarden
