#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>
#include <vector>

namespace winwarden {

// The messages of the companion extension's bridge. Extension → winwarden-host → winwarden:
//   {"type":"hello","browser":"chromium","version":"1.0","install":"admin"}
//                                         (the host adds "caller")
//   {"type":"tabs","tabs":[{"id":7,"title":"…","url":"…","incognito":false},…]}
//                                         each tab may also say "active" (the active tab of
//                                         its window) and "focused" (its window has the focus)
//   {"type":"challenge","nonce":"<base64>"}
//                                         fresh random bytes (16 to 64) that the guard is to
//                                         sign; the host keeps the latest and sends it again
//                                         on connecting
// winwarden → winwarden-host → extension:
//   {"type":"close","tabs":[7,…]}
//   {"type":"alive"}                      after each monitor cycle, at most one a second; the
//                                         host adds "guard": true when it speaks to the
//                                         verified system guard, else false
//   {"type":"sites","block":["game.example",…],"allow":["school.example",…]}
//                                         the 网站 rules in force, on connecting and on every
//                                         change; "more":true when the next message continues
//                                         the set (a set larger than one message allows);
//                                         "all":true when every web page is refused but the
//                                         allowed hosts' (a 全部网页 rule); "reasons":{"game.
//                                         example":"今天的 60 分钟已用完，明天 00:00 再开放"}
//                                         why a host is refused, "" for every page; both for
//                                         the user at this connection's other end
//   {"type":"notice","text":"还有 5 分钟：…"}
//                                         a notice for the person, shown as the browser's
//                                         notification
//   {"type":"proof","nonce":"<base64>","time":<ms since 1970>,"signature":"<base64>"}
//                                         the guard's answer to a challenge: its ECDSA P-256
//                                         SHA-256 signature (r||s) of BridgeProofText; only
//                                         the guard signs, the host and a user's winwarden
//                                         never do
// On connecting to winwarden the host sends a hello (browser and version empty until the
// extension's hello has come) and the latest tab list it holds.

// The native host's name in the browsers' host manifests.
inline constexpr char kBridgeHostName[] = "net.winwarden.host";
// The extension's id in Chromium-family browsers: fixed by the public key in its manifest.
inline constexpr char kBridgeChromiumId[] = "nmmkcloaiigldlkhkbnmgnjkbgnifpek";
// The extension's id in Firefox: browser_specific_settings.gecko.id of its manifest.
inline constexpr char kBridgeGeckoId[] = "winwarden@winwarden.net";

// The system guard (winwarden-guard): its system user, its runtime folder and the bridge socket
// there that every user's winwarden-host tries first. Fixed, so that nothing in a user's
// environment (which the browser hands on to the host) can send the host elsewhere.
inline constexpr char kGuardUser[] = "winwarden";
inline constexpr char kGuardRuntimeDir[] = "/run/winwarden";
inline constexpr char kSystemBridgeSocket[] = "/run/winwarden/bridge";

struct BridgeHello {
    QString browser; // the family the extension says it runs in: chromium, chrome, firefox, …
    QString version; // the extension's version
    QString caller;  // the caller the host checked: "chrome-extension://<id>/" or the gecko id
    // How the extension was installed, as management.getSelf() says: "admin" when a policy
    // forced it, "development" when loaded unpacked, …; empty until the browser has said.
    QString install;
    bool operator==(const BridgeHello&) const = default;
};

struct BridgeTab {
    qint64 id = 0;
    QString title;
    QString url;
    bool incognito = false;
    std::optional<bool> active = std::nullopt;
    std::optional<bool> focused = std::nullopt;
    bool operator==(const BridgeTab&) const = default;

    // Whether the person has it in front: the active tab of the focused window. Unknown where
    // the extension said nothing of either.
    std::optional<bool> InFront() const {
        if (!active || !focused) {
            return std::nullopt;
        }
        return *active && *focused;
    }
};

struct BridgeTabs {
    std::vector<BridgeTab> tabs;
    bool operator==(const BridgeTabs&) const = default;
};

struct BridgeClose {
    std::vector<qint64> tabs;
    bool operator==(const BridgeClose&) const = default;
};

// The 网站 rules in force, or a part of them (see SplitBridgeSites).
struct BridgeSites {
    QStringList block;
    QStringList allow;
    bool more = false; // the set goes on in the next message
    bool all = false;  // every web page is refused but those of `allow`; said in every part
    QMap<QString, QString> reasons = {}; // why a host is refused ("": every page), by host
    bool operator==(const BridgeSites&) const = default;
};

// A notice for the person at the browser.
struct BridgeNotice {
    QString text;
    bool operator==(const BridgeNotice&) const = default;
};

// The monitor that the host speaks to has run a cycle. `guard` is set by the host only.
struct BridgeAlive {
    std::optional<bool> guard;
    bool operator==(const BridgeAlive&) const = default;
};

// A browser asks the guard to prove that it is there.
struct BridgeChallenge {
    QString nonce; // base64 of 16 to 64 random bytes
    bool operator==(const BridgeChallenge&) const = default;
};

// The guard's answer to a challenge.
struct BridgeProof {
    QString nonce;
    qint64 time = 0;   // the guard's clock when it signed, ms since 1970
    QString signature; // base64 of r||s; its size is the extension's to check
    bool operator==(const BridgeProof&) const = default;
};

// What a message says; std::monostate when it is none of the above, with the reason.
using BridgeMessage =
    std::variant<std::monostate, BridgeHello, BridgeTabs, BridgeClose, BridgeSites, BridgeAlive,
                 BridgeChallenge, BridgeProof, BridgeNotice>;

// What the guard signs for a challenge: a fixed word, the nonce and the time, so that a
// signature means nothing outside this exchange.
QByteArray BridgeProofText(const QString& nonce, qint64 time);

// Reads a decoded frame. Strict: a wrong type of any field, a tab id that is not a whole
// number a browser could use, or an unknown message type makes the whole message unknown.
BridgeMessage DecodeBridgeMessage(const QJsonObject& message, QString* why = nullptr);

QJsonObject EncodeBridgeMessage(const BridgeHello& hello);
QJsonObject EncodeBridgeMessage(const BridgeTabs& tabs);
QJsonObject EncodeBridgeMessage(const BridgeClose& close);
QJsonObject EncodeBridgeMessage(const BridgeAlive& alive);
QJsonObject EncodeBridgeMessage(const BridgeSites& sites);
QJsonObject EncodeBridgeMessage(const BridgeChallenge& challenge);
QJsonObject EncodeBridgeMessage(const BridgeProof& proof);
QJsonObject EncodeBridgeMessage(const BridgeNotice& notice);

// The set as messages whose JSON stays within `cap` bytes each, every one but the last with
// `more`; one message when it fits. `all` goes with every part; each reason goes with one. A
// host name (or a reason) that cannot fit even alone is left out and named in `left` (the
// browsers refuse longer names anyway).
std::vector<BridgeSites> SplitBridgeSites(const BridgeSites& sites, qint64 cap,
                                          QStringList* left = nullptr);

// Whether a native host's arguments name an allowed caller: Chromium-family browsers pass
// "chrome-extension://<id>/", Firefox the path of the host manifest and the extension's id.
// The caller as BridgeHello::caller records it, or empty when it is not allowed.
QString AllowedBridgeCaller(const QStringList& arguments);

// The path of the bridge socket: "bridge" in RuntimeDir(); empty when there is no safe folder.
QString BridgeSocketPath();

} // namespace winwarden
