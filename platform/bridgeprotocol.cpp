#include "platform/bridgeprotocol.h"

#include "platform/runtimedir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

// Browsers' tab ids are whole numbers that JavaScript holds exactly.
constexpr double kLargestId = 9007199254740991.0;
// A challenge's random bytes: enough that none repeats, few enough to stay a small message.
constexpr qsizetype kNonceMin = 16;
constexpr qsizetype kNonceMax = 64;

bool ReadId(const QJsonValue& value, qint64* id) {
    if (!value.isDouble()) {
        return false;
    }
    const double number = value.toDouble();
    if (!(std::fabs(number) <= kLargestId) || std::trunc(number) != number) {
        return false;
    }
    *id = static_cast<qint64>(number);
    return true;
}

bool ReadString(const QJsonObject& object, QLatin1StringView key, QString* to) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined()) {
        return true;
    }
    if (!value.isString()) {
        return false;
    }
    *to = value.toString();
    return true;
}

// A list of strings; false for anything else.
bool ReadStrings(const QJsonValue& value, QStringList* to) {
    if (!value.isArray()) {
        return false;
    }
    const QJsonArray array = value.toArray();
    to->reserve(array.size());
    for (const QJsonValue& entry : array) {
        if (!entry.isString()) {
            return false;
        }
        to->append(entry.toString());
    }
    return true;
}

// At least the bytes `text` takes as a JSON string in a list: quotes, comma, and six for every
// character that might be escaped or take several bytes.
qint64 JsonSize(const QString& text) {
    qint64 size = 3;
    for (const QChar c : text) {
        size += (c.unicode() >= 0x20 && c.unicode() < 0x7f && c != u'"' && c != u'\\') ? 1 : 6;
    }
    return size;
}

BridgeMessage Unknown(QString* why, const QString& reason) {
    if (why != nullptr) {
        *why = reason;
    }
    return std::monostate{};
}

} // namespace

BridgeMessage DecodeBridgeMessage(const QJsonObject& message, QString* why) {
    const QString type = message.value("type"_L1).toString();
    if (type == "hello"_L1) {
        BridgeHello hello;
        if (!ReadString(message, "browser"_L1, &hello.browser) ||
            !ReadString(message, "version"_L1, &hello.version) ||
            !ReadString(message, "caller"_L1, &hello.caller) ||
            !ReadString(message, "install"_L1, &hello.install)) {
            return Unknown(why, u"hello 消息的某个字段不是文本"_s);
        }
        return hello;
    }
    if (type == "tabs"_L1) {
        const QJsonValue list = message.value("tabs"_L1);
        if (!list.isArray()) {
            return Unknown(why, u"tabs 消息没有标签页列表"_s);
        }
        BridgeTabs tabs;
        const QJsonArray array = list.toArray();
        tabs.tabs.reserve(static_cast<size_t>(array.size()));
        for (const QJsonValue& entry : array) {
            const QJsonObject object = entry.toObject();
            const QJsonValue incognito = object.value("incognito"_L1);
            const QJsonValue active = object.value("active"_L1);
            const QJsonValue focused = object.value("focused"_L1);
            BridgeTab tab;
            if (!entry.isObject() || !ReadId(object.value("id"_L1), &tab.id) ||
                !ReadString(object, "title"_L1, &tab.title) ||
                !ReadString(object, "url"_L1, &tab.url) ||
                !(incognito.isUndefined() || incognito.isBool()) ||
                !(active.isUndefined() || active.isBool()) ||
                !(focused.isUndefined() || focused.isBool())) {
                return Unknown(why, u"tabs 消息中有格式不对的标签页"_s);
            }
            tab.incognito = incognito.toBool();
            if (active.isBool()) {
                tab.active = active.toBool();
            }
            if (focused.isBool()) {
                tab.focused = focused.toBool();
            }
            tabs.tabs.push_back(std::move(tab));
        }
        return tabs;
    }
    if (type == "close"_L1) {
        const QJsonValue list = message.value("tabs"_L1);
        if (!list.isArray()) {
            return Unknown(why, u"close 消息没有列表"_s);
        }
        BridgeClose close;
        for (const QJsonValue& entry : list.toArray()) {
            qint64 id = 0;
            if (!ReadId(entry, &id)) {
                return Unknown(why, u"close 消息中的标签页编号不是整数"_s);
            }
            close.tabs.push_back(id);
        }
        return close;
    }
    if (type == "alive"_L1) {
        const QJsonValue guard = message.value("guard"_L1);
        if (!guard.isUndefined() && !guard.isBool()) {
            return Unknown(why, u"alive 消息的 guard 既不是 true 也不是 false"_s);
        }
        return BridgeAlive{guard.isBool() ? std::optional(guard.toBool()) : std::nullopt};
    }
    if (type == "sites"_L1) {
        BridgeSites sites;
        const QJsonValue more = message.value("more"_L1);
        const QJsonValue all = message.value("all"_L1);
        if (!ReadStrings(message.value("block"_L1), &sites.block) ||
            !ReadStrings(message.value("allow"_L1), &sites.allow) ||
            !(more.isUndefined() || more.isBool()) || !(all.isUndefined() || all.isBool())) {
            return Unknown(why, u"sites 消息没有两个主机名列表"_s);
        }
        const QJsonValue reasons = message.value("reasons"_L1);
        if (!reasons.isUndefined() && !reasons.isObject()) {
            return Unknown(why, u"sites 消息的 reasons 不是对象"_s);
        }
        const QJsonObject reasonsByHost = reasons.toObject();
        for (auto reason = reasonsByHost.begin(); reason != reasonsByHost.end(); ++reason) {
            if (!reason.value().isString()) {
                return Unknown(why, u"sites 消息的某个原因不是文本"_s);
            }
            sites.reasons.insert(reason.key(), reason.value().toString());
        }
        sites.more = more.toBool();
        sites.all = all.toBool();
        return sites;
    }
    if (type == "notice"_L1) {
        const QJsonValue text = message.value("text"_L1);
        if (!text.isString()) {
            return Unknown(why, u"notice 消息没有文本"_s);
        }
        return BridgeNotice{text.toString()};
    }
    if (type == "challenge"_L1) {
        const QJsonValue nonce = message.value("nonce"_L1);
        const auto bytes = QByteArray::fromBase64Encoding(nonce.toString().toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
        if (!nonce.isString() || !bytes || bytes.decoded.size() < kNonceMin ||
            bytes.decoded.size() > kNonceMax) {
            return Unknown(why, u"挑战没有 16 到 64 字节的 base64 随机数"_s);
        }
        return BridgeChallenge{nonce.toString()};
    }
    if (type == "proof"_L1) {
        BridgeProof proof;
        const QJsonValue time = message.value("time"_L1);
        if (!ReadString(message, "nonce"_L1, &proof.nonce) ||
            !ReadString(message, "signature"_L1, &proof.signature) || !ReadId(time, &proof.time)) {
            return Unknown(why, u"应答的字段格式不对"_s);
        }
        return proof;
    }
    return Unknown(why, u"未知的消息类型"_s);
}

QByteArray BridgeProofText(const QString& nonce, qint64 time) {
    return "winwarden-guard-alive " + nonce.toLatin1() + ' ' + QByteArray::number(time);
}

QJsonObject EncodeBridgeMessage(const BridgeHello& hello) {
    return {{"type"_L1, u"hello"_s},
            {"browser"_L1, hello.browser},
            {"version"_L1, hello.version},
            {"caller"_L1, hello.caller},
            {"install"_L1, hello.install}};
}

QJsonObject EncodeBridgeMessage(const BridgeTabs& tabs) {
    QJsonArray list;
    for (const BridgeTab& tab : tabs.tabs) {
        QJsonObject entry{{"id"_L1, tab.id},
                          {"title"_L1, tab.title},
                          {"url"_L1, tab.url},
                          {"incognito"_L1, tab.incognito}};
        if (tab.active) {
            entry.insert("active"_L1, *tab.active);
        }
        if (tab.focused) {
            entry.insert("focused"_L1, *tab.focused);
        }
        list.append(entry);
    }
    return {{"type"_L1, u"tabs"_s}, {"tabs"_L1, list}};
}

QJsonObject EncodeBridgeMessage(const BridgeClose& close) {
    QJsonArray list;
    for (const qint64 id : close.tabs) {
        list.append(id);
    }
    return {{"type"_L1, u"close"_s}, {"tabs"_L1, list}};
}

QJsonObject EncodeBridgeMessage(const BridgeAlive& alive) {
    QJsonObject message{{"type"_L1, u"alive"_s}};
    if (alive.guard) {
        message.insert("guard"_L1, *alive.guard);
    }
    return message;
}

QJsonObject EncodeBridgeMessage(const BridgeSites& sites) {
    QJsonObject message{{"type"_L1, u"sites"_s},
                        {"block"_L1, QJsonArray::fromStringList(sites.block)},
                        {"allow"_L1, QJsonArray::fromStringList(sites.allow)}};
    if (sites.more) {
        message.insert("more"_L1, true);
    }
    // Left out when there is nothing to say, so that a plain set reads as it always has.
    if (sites.all) {
        message.insert("all"_L1, true);
    }
    if (!sites.reasons.isEmpty()) {
        QJsonObject reasons;
        for (auto reason = sites.reasons.begin(); reason != sites.reasons.end(); ++reason) {
            reasons.insert(reason.key(), reason.value());
        }
        message.insert("reasons"_L1, reasons);
    }
    return message;
}

QJsonObject EncodeBridgeMessage(const BridgeNotice& notice) {
    return {{"type"_L1, u"notice"_s}, {"text"_L1, notice.text}};
}

QJsonObject EncodeBridgeMessage(const BridgeChallenge& challenge) {
    return {{"type"_L1, u"challenge"_s}, {"nonce"_L1, challenge.nonce}};
}

QJsonObject EncodeBridgeMessage(const BridgeProof& proof) {
    return {{"type"_L1, u"proof"_s},
            {"nonce"_L1, proof.nonce},
            {"time"_L1, proof.time},
            {"signature"_L1, proof.signature}};
}

std::vector<BridgeSites> SplitBridgeSites(const BridgeSites& sites, qint64 cap, QStringList* left) {
    // With room for the reasons' braces and key, which a part may or may not need.
    const qint64 empty =
        QJsonDocument(EncodeBridgeMessage(BridgeSites{{}, {}, true, sites.all, {{u""_s, u""_s}}}))
            .toJson(QJsonDocument::Compact)
            .size();
    std::vector<BridgeSites> parts(1);
    parts.back().all = sites.all;
    qint64 size = empty;
    const auto fits = [&](qint64 more, const QString& named) {
        if (empty + more > cap) {
            if (left != nullptr) {
                left->append(named);
            }
            return false;
        }
        if (size + more > cap) {
            parts.back().more = true;
            parts.emplace_back();
            parts.back().all = sites.all;
            size = empty;
        }
        size += more;
        return true;
    };
    for (const QString& host : sites.block) {
        if (fits(JsonSize(host), host)) {
            parts.back().block.append(host);
        }
    }
    for (const QString& host : sites.allow) {
        if (fits(JsonSize(host), host)) {
            parts.back().allow.append(host);
        }
    }
    for (auto reason = sites.reasons.begin(); reason != sites.reasons.end(); ++reason) {
        if (fits(JsonSize(reason.key()) + JsonSize(reason.value()), reason.key())) {
            parts.back().reasons.insert(reason.key(), reason.value());
        }
    }
    return parts;
}

QString AllowedBridgeCaller(const QStringList& arguments) {
    const QString origin = u"chrome-extension://"_s + QLatin1StringView(kBridgeChromiumId) + u'/';
    if (!arguments.isEmpty() && arguments.front() == origin) {
        return origin;
    }
    // Firefox names the manifest first, so the id is the second argument.
    if (arguments.size() >= 2 && arguments.at(1) == QLatin1StringView(kBridgeGeckoId)) {
        return arguments.at(1);
    }
    return {};
}

QString BridgeSocketPath() {
    const QString folder = RuntimeDir();
    return folder.isEmpty() ? QString() : folder + u"/bridge"_s;
}

} // namespace winwarden
