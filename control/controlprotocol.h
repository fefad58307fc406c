#pragma once

#include "engine/monitor.h"
#include "store/matchstore.h"
#include "store/rulestore.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>
#include <vector>

namespace winwarden {

// The messages of the system guard's control socket, framed as the bridge's are
// (platform/nativeframing.h). The guard speaks first and the window follows:
//
// guard → window:
//   {"type":"welcome","admin":true,"status":{…}}   once, on connecting
//   {"type":"status","status":{…}}                 the status as this user may see it
//   {"type":"seen","windows":[{"title","url","flag","browser","matchFlag","matchRule","user"},…]}
//                                                  a cycle's pages this user may see, in parts
//   {"type":"cycle"}                               the cycle has finished
//   {"type":"closing","title":"…","url":"…"}       a page of this user's was asked to close
//   {"type":"storeFailed","message":"…"}
//   {"type":"reply","id":7,"result":…}  or  {"type":"reply","id":7,"error":"…"}
// window → guard:
//   {"type":"watch","on":true}                     send the live list, or stop sending it
//   {"type":"call","id":7,"command":"setFlag","flag":"…","name":"…","url":"…"}
//
// Decoding is strict on both sides: a missing field, a field of the wrong type, an unknown
// field, command or message type makes the whole message unknown, and whoever receives an
// unknown message hangs up.

// The guard's control socket, in its runtime folder: fixed, as the bridge's is.
inline constexpr char kGuardControlSocket[] = "/run/winwarden/control";

// The largest frame either side sends or accepts. A window's request is small; the guard's
// answers carry rule lists, whose size the guard's administrators decide.
inline constexpr qint64 kControlFrameCap = 16 * 1024 * 1024;
// Windows of a cycle per "seen" message, so that a frame stays far below the cap.
inline constexpr int kSeenPerMessage = 256;

// The rule commands a window can give: Monitor's, one for one.
enum class ControlCommand {
    ListByFlag,
    FindByName,
    SetFlag,
    DeleteRule,
    AddRule,
    ListMatchRules,
    HasMatchTable,
    AddMatchTable,
    FindMatchRule,
    AddMatchRule,
    SetMatchRuleFlag,
    DeleteMatchRule,
    SetMatchRuleTimes,
    ListVisits,    // control/visitprotocol.h
    AllowanceUses, // control/allowanceprotocol.h
};

struct ControlCall {
    qint64 id = 0;
    ControlCommand command = ControlCommand::ListByFlag;
    QStringList args; // its text fields, in the order ControlCommandFields gives
    qint64 rule = 0;  // the match rule's key, for the commands that name one
    bool operator==(const ControlCall&) const = default;
};

struct ControlWatch {
    bool on = false;
    bool operator==(const ControlWatch&) const = default;
};

// What a window sends; std::monostate when it is neither.
using ControlRequest = std::variant<std::monostate, ControlWatch, ControlCall>;

// Whether the command changes rules: only an administrator's is applied.
bool ChangesRules(ControlCommand command);
// Whether anyone may ask this, administrator or not: the list of the rules that block. Every
// other rule is a page that some user's browser showed.
bool AnyoneMayAsk(const ControlCall& call);
QStringList ControlCommandFields(ControlCommand command);

QJsonObject EncodeControlRequest(const ControlCall& call);
QJsonObject EncodeControlRequest(const ControlWatch& watch);
ControlRequest DecodeControlRequest(const QJsonObject& message);

// The guard's side.
QJsonObject EncodeWelcome(bool admin, const MonitorStatus& status);
QJsonObject EncodeStatus(const MonitorStatus& status);
QJsonObject EncodeSeen(const std::vector<SeenWindow>& windows);
QJsonObject EncodeCycleEnd();
QJsonObject EncodeClosing(const QString& title, const QString& url);
QJsonObject EncodeStoreFailed(const QString& message);
QJsonObject EncodeReply(qint64 id, const QJsonValue& result);
QJsonObject EncodeRefusal(qint64 id, const QString& error);
QJsonValue EncodeRule(const std::optional<Rule>& rule);
QJsonArray EncodeRules(const std::vector<Rule>& rules);
QJsonValue EncodeMatchRule(const std::optional<MatchRuleRow>& rule);
QJsonArray EncodeMatchRules(const std::vector<MatchRuleRow>& rules);

// What the guard sends, as the window reads it.
struct GuardWelcome {
    bool admin = false;
    MonitorStatus status;
};
struct GuardStatus {
    MonitorStatus status;
};
struct GuardSeen {
    std::vector<SeenWindow> windows;
};
struct GuardCycle {};
struct GuardClosing {
    QString title;
    QString url;
};
struct GuardStoreFailed {
    QString message;
};
struct GuardReply {
    qint64 id = 0;
    std::optional<QString> error; // set when the guard refused or the rules failed
    QJsonValue result;
};
using GuardMessage = std::variant<std::monostate, GuardWelcome, GuardStatus, GuardSeen, GuardCycle,
                                  GuardClosing, GuardStoreFailed, GuardReply>;
GuardMessage DecodeGuardMessage(const QJsonObject& message);

// A reply's result as the command gives it; nothing when it is not of that shape.
std::optional<std::vector<Rule>> DecodeRules(const QJsonValue& value);
std::optional<std::optional<Rule>> DecodeRule(const QJsonValue& value);
std::optional<std::vector<MatchRuleRow>> DecodeMatchRules(const QJsonValue& value);
std::optional<std::optional<MatchRuleRow>> DecodeMatchRule(const QJsonValue& value);
std::optional<bool> DecodeTruth(const QJsonValue& value);
std::optional<int> DecodeCount(const QJsonValue& value);

} // namespace winwarden
