#include "control/controlprotocol.h"

#include "store/flag.h"

#include <QSet>
#include <array>
#include <cmath>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

struct CommandSpec {
    ControlCommand command;
    QLatin1StringView name;
    bool changes;
    std::array<QLatin1StringView, 3> fields; // text fields; empty ones unused
    bool rule = false;                       // it names a match rule by its key ("rule")
};

constexpr std::array kCommands{
    CommandSpec{ControlCommand::ListByFlag, "listByFlag"_L1, false, {"flag"_L1}},
    CommandSpec{ControlCommand::FindByName, "findByName"_L1, false, {"name"_L1}},
    CommandSpec{ControlCommand::SetFlag, "setFlag"_L1, true, {"flag"_L1, "name"_L1, "url"_L1}},
    CommandSpec{ControlCommand::DeleteRule, "deleteRule"_L1, true, {"name"_L1, "url"_L1}},
    CommandSpec{ControlCommand::AddRule, "addRule"_L1, true, {"name"_L1, "url"_L1, "flag"_L1}},
    CommandSpec{ControlCommand::ListMatchRules, "listMatchRules"_L1, false, {}},
    CommandSpec{ControlCommand::HasMatchTable, "hasMatchTable"_L1, false, {}},
    CommandSpec{ControlCommand::AddMatchTable, "addMatchTable"_L1, true, {}},
    CommandSpec{ControlCommand::FindMatchRule, "findMatchRule"_L1, false, {"kind"_L1, "text"_L1}},
    CommandSpec{
        ControlCommand::AddMatchRule, "addMatchRule"_L1, true, {"kind"_L1, "text"_L1, "flag"_L1}},
    CommandSpec{ControlCommand::SetMatchRuleFlag, "setMatchRuleFlag"_L1, true, {"flag"_L1}, true},
    CommandSpec{ControlCommand::DeleteMatchRule, "deleteMatchRule"_L1, true, {}, true},
    CommandSpec{
        ControlCommand::SetMatchRuleTimes, "setMatchRuleTimes"_L1, true, {"times"_L1}, true},
    CommandSpec{
        ControlCommand::ListVisits, "listVisits"_L1, false, {"user"_L1, "since"_L1, "until"_L1}},
    CommandSpec{ControlCommand::AllowanceUses, "allowanceUses"_L1, false, {}},
};

const CommandSpec& Spec(ControlCommand command) {
    for (const CommandSpec& spec : kCommands) {
        if (spec.command == command) {
            return spec;
        }
    }
    Q_UNREACHABLE();
}

// Exactly these fields: none missing, none besides.
bool HasExactly(const QJsonObject& message, const QStringList& fields) {
    if (message.size() != fields.size()) {
        return false;
    }
    return std::all_of(fields.begin(), fields.end(),
                       [&](const QString& field) { return message.contains(field); });
}

std::optional<qint64> WholeNumber(const QJsonValue& value) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    // Integers a double holds exactly; anything else is no id of ours.
    constexpr double kLimit = 9007199254740992.0;
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > kLimit) {
        return std::nullopt;
    }
    return static_cast<qint64>(number);
}

bool IsStringList(const QJsonValue& value) {
    if (!value.isArray()) {
        return false;
    }
    const QJsonArray list = value.toArray();
    return std::all_of(list.begin(), list.end(),
                       [](const QJsonValue& item) { return item.isString(); });
}

QJsonValue Nullable(const std::optional<QString>& text) {
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

std::optional<std::optional<QString>> NullableString(const QJsonValue& value) {
    if (value.isNull()) {
        return std::optional<QString>();
    }
    if (value.isString()) {
        return std::optional(value.toString());
    }
    return std::nullopt;
}

QJsonObject EncodeStatusFields(const MonitorStatus& status) {
    return {{"monitoring"_L1, status.monitoring},
            {"cycled"_L1, status.cycled},
            {"windows"_L1, status.windows},
            {"browsersWatched"_L1, status.browsersWatched},
            {"browsersRead"_L1, status.browsersRead},
            {"storeFailure"_L1, status.storeFailure},
            {"notices"_L1, QJsonArray::fromStringList(status.notices)}};
}

std::optional<MonitorStatus> DecodeStatusFields(const QJsonValue& value) {
    const QJsonObject fields = value.toObject();
    if (!value.isObject() ||
        !HasExactly(fields, {u"monitoring"_s, u"cycled"_s, u"windows"_s, u"browsersWatched"_s,
                             u"browsersRead"_s, u"storeFailure"_s, u"notices"_s}) ||
        !fields.value("monitoring"_L1).isBool() || !fields.value("cycled"_L1).isBool() ||
        !fields.value("storeFailure"_L1).isString() || !IsStringList(fields.value("notices"_L1))) {
        return std::nullopt;
    }
    MonitorStatus status;
    status.monitoring = fields.value("monitoring"_L1).toBool();
    status.cycled = fields.value("cycled"_L1).toBool();
    for (const auto& [name, count] : {std::pair{"windows"_L1, &status.windows},
                                      std::pair{"browsersWatched"_L1, &status.browsersWatched},
                                      std::pair{"browsersRead"_L1, &status.browsersRead}}) {
        const std::optional<qint64> number = WholeNumber(fields.value(name));
        if (!number || *number < 0 || *number > std::numeric_limits<int>::max()) {
            return std::nullopt;
        }
        *count = int(*number);
    }
    status.storeFailure = fields.value("storeFailure"_L1).toString();
    for (const QJsonValue& notice : fields.value("notices"_L1).toArray()) {
        status.notices.append(notice.toString());
    }
    return status;
}

std::optional<SeenWindow> DecodeSeenWindow(const QJsonValue& value) {
    static const QStringList kFields{u"title"_s,     u"url"_s,       u"flag"_s, u"browser"_s,
                                     u"matchFlag"_s, u"matchRule"_s, u"user"_s};
    const QJsonObject fields = value.toObject();
    if (!value.isObject() || !HasExactly(fields, kFields) ||
        !std::all_of(kFields.begin(), kFields.end(),
                     [&](const QString& field) { return fields.value(field).isString(); })) {
        return std::nullopt;
    }
    SeenWindow window;
    window.title = fields.value("title"_L1).toString();
    window.url = fields.value("url"_L1).toString();
    window.flag = fields.value("flag"_L1).toString();
    window.browser = fields.value("browser"_L1).toString();
    window.matchFlag = fields.value("matchFlag"_L1).toString();
    window.matchRule = fields.value("matchRule"_L1).toString();
    window.user = fields.value("user"_L1).toString();
    return window;
}

} // namespace

bool ChangesRules(ControlCommand command) {
    return Spec(command).changes;
}

bool AnyoneMayAsk(const ControlCall& call) {
    switch (call.command) {
    case ControlCommand::ListByFlag:
        return IsBlockingFlag(call.args.value(0));
    case ControlCommand::ListMatchRules:
    case ControlCommand::HasMatchTable:
    case ControlCommand::FindMatchRule:
        return true; // sites and words, which are nobody's browsing
    case ControlCommand::ListVisits:
    case ControlCommand::AllowanceUses:
        return true; // the guard answers anyone but an administrator with their own alone
    default:
        return false;
    }
}

QStringList ControlCommandFields(ControlCommand command) {
    QStringList fields;
    for (const QLatin1StringView field : Spec(command).fields) {
        if (!field.isEmpty()) {
            fields.append(field);
        }
    }
    return fields;
}

QJsonObject EncodeControlRequest(const ControlCall& call) {
    QJsonObject message{{"type"_L1, u"call"_s},
                        {"id"_L1, double(call.id)},
                        {"command"_L1, QString(Spec(call.command).name)}};
    const QStringList fields = ControlCommandFields(call.command);
    for (qsizetype i = 0; i < fields.size(); ++i) {
        message.insert(fields[i], call.args.value(i));
    }
    if (Spec(call.command).rule) {
        message.insert("rule"_L1, double(call.rule));
    }
    return message;
}

QJsonObject EncodeControlRequest(const ControlWatch& watch) {
    return {{"type"_L1, u"watch"_s}, {"on"_L1, watch.on}};
}

ControlRequest DecodeControlRequest(const QJsonObject& message) {
    const QString type = message.value("type"_L1).toString();
    if (type == "watch"_L1) {
        if (!HasExactly(message, {u"type"_s, u"on"_s}) || !message.value("on"_L1).isBool()) {
            return {};
        }
        return ControlWatch{message.value("on"_L1).toBool()};
    }
    if (type != "call"_L1) {
        return {};
    }
    const std::optional<qint64> id = WholeNumber(message.value("id"_L1));
    const QString name = message.value("command"_L1).toString();
    const auto spec = std::find_if(kCommands.begin(), kCommands.end(),
                                   [&](const CommandSpec& each) { return each.name == name; });
    if (!id || spec == kCommands.end()) {
        return {};
    }
    ControlCall call{*id, spec->command, {}, 0};
    const QStringList fields = ControlCommandFields(spec->command);
    if (!HasExactly(message, QStringList{u"type"_s, u"id"_s, u"command"_s} + fields +
                                 (spec->rule ? QStringList{u"rule"_s} : QStringList()))) {
        return {};
    }
    if (spec->rule) {
        const std::optional<qint64> rule = WholeNumber(message.value("rule"_L1));
        if (!rule) {
            return {};
        }
        call.rule = *rule;
    }
    for (const QString& field : fields) {
        if (!message.value(field).isString()) {
            return {};
        }
        call.args.append(message.value(field).toString());
    }
    return call;
}

QJsonObject EncodeWelcome(bool admin, const MonitorStatus& status) {
    return {
        {"type"_L1, u"welcome"_s}, {"admin"_L1, admin}, {"status"_L1, EncodeStatusFields(status)}};
}

QJsonObject EncodeStatus(const MonitorStatus& status) {
    return {{"type"_L1, u"status"_s}, {"status"_L1, EncodeStatusFields(status)}};
}

QJsonObject EncodeSeen(const std::vector<SeenWindow>& windows) {
    QJsonArray list;
    for (const SeenWindow& window : windows) {
        list.append(QJsonObject{{"title"_L1, window.title},
                                {"url"_L1, window.url},
                                {"flag"_L1, window.flag},
                                {"browser"_L1, window.browser},
                                {"matchFlag"_L1, window.matchFlag},
                                {"matchRule"_L1, window.matchRule},
                                {"user"_L1, window.user}});
    }
    return {{"type"_L1, u"seen"_s}, {"windows"_L1, list}};
}

QJsonObject EncodeCycleEnd() {
    return {{"type"_L1, u"cycle"_s}};
}

QJsonObject EncodeClosing(const QString& title, const QString& url) {
    return {{"type"_L1, u"closing"_s}, {"title"_L1, title}, {"url"_L1, url}};
}

QJsonObject EncodeStoreFailed(const QString& message) {
    return {{"type"_L1, u"storeFailed"_s}, {"message"_L1, message}};
}

QJsonObject EncodeReply(qint64 id, const QJsonValue& result) {
    return {{"type"_L1, u"reply"_s}, {"id"_L1, double(id)}, {"result"_L1, result}};
}

QJsonObject EncodeRefusal(qint64 id, const QString& error) {
    return {{"type"_L1, u"reply"_s}, {"id"_L1, double(id)}, {"error"_L1, error}};
}

QJsonValue EncodeRule(const std::optional<Rule>& rule) {
    if (!rule) {
        return QJsonValue::Null;
    }
    return QJsonObject{{"name"_L1, Nullable(rule->name)},
                       {"flag"_L1, Nullable(rule->flag)},
                       {"url"_L1, Nullable(rule->url)}};
}

QJsonArray EncodeRules(const std::vector<Rule>& rules) {
    QJsonArray list;
    for (const Rule& rule : rules) {
        list.append(EncodeRule(rule));
    }
    return list;
}

QJsonValue EncodeMatchRule(const std::optional<MatchRuleRow>& rule) {
    if (!rule) {
        return QJsonValue::Null;
    }
    return QJsonObject{{"id"_L1, double(rule->id)},
                       {"kind"_L1, Nullable(rule->kind)},
                       {"text"_L1, Nullable(rule->text)},
                       {"flag"_L1, Nullable(rule->flag)},
                       {"times"_L1, Nullable(rule->times)}};
}

QJsonArray EncodeMatchRules(const std::vector<MatchRuleRow>& rules) {
    QJsonArray list;
    for (const MatchRuleRow& rule : rules) {
        list.append(EncodeMatchRule(rule));
    }
    return list;
}

GuardMessage DecodeGuardMessage(const QJsonObject& message) {
    const QString type = message.value("type"_L1).toString();
    if (type == "welcome"_L1) {
        const std::optional<MonitorStatus> status = DecodeStatusFields(message.value("status"_L1));
        if (!HasExactly(message, {u"type"_s, u"admin"_s, u"status"_s}) ||
            !message.value("admin"_L1).isBool() || !status) {
            return {};
        }
        return GuardWelcome{message.value("admin"_L1).toBool(), *status};
    }
    if (type == "status"_L1) {
        const std::optional<MonitorStatus> status = DecodeStatusFields(message.value("status"_L1));
        if (!HasExactly(message, {u"type"_s, u"status"_s}) || !status) {
            return {};
        }
        return GuardStatus{*status};
    }
    if (type == "seen"_L1) {
        if (!HasExactly(message, {u"type"_s, u"windows"_s}) ||
            !message.value("windows"_L1).isArray()) {
            return {};
        }
        GuardSeen seen;
        for (const QJsonValue& item : message.value("windows"_L1).toArray()) {
            const std::optional<SeenWindow> window = DecodeSeenWindow(item);
            if (!window) {
                return {};
            }
            seen.windows.push_back(*window);
        }
        return seen;
    }
    if (type == "cycle"_L1) {
        return HasExactly(message, {u"type"_s}) ? GuardMessage(GuardCycle{}) : GuardMessage();
    }
    if (type == "closing"_L1) {
        if (!HasExactly(message, {u"type"_s, u"title"_s, u"url"_s}) ||
            !message.value("title"_L1).isString() || !message.value("url"_L1).isString()) {
            return {};
        }
        return GuardClosing{message.value("title"_L1).toString(),
                            message.value("url"_L1).toString()};
    }
    if (type == "storeFailed"_L1) {
        if (!HasExactly(message, {u"type"_s, u"message"_s}) ||
            !message.value("message"_L1).isString()) {
            return {};
        }
        return GuardStoreFailed{message.value("message"_L1).toString()};
    }
    if (type == "reply"_L1) {
        const std::optional<qint64> id = WholeNumber(message.value("id"_L1));
        if (!id || message.size() != 3) {
            return {};
        }
        if (message.contains("error"_L1)) {
            if (!message.value("error"_L1).isString()) {
                return {};
            }
            return GuardReply{*id, message.value("error"_L1).toString(), {}};
        }
        if (!message.contains("result"_L1)) {
            return {};
        }
        return GuardReply{*id, std::nullopt, message.value("result"_L1)};
    }
    return {};
}

std::optional<std::optional<Rule>> DecodeRule(const QJsonValue& value) {
    if (value.isNull()) {
        return std::optional<Rule>();
    }
    const QJsonObject fields = value.toObject();
    if (!value.isObject() || !HasExactly(fields, {u"name"_s, u"flag"_s, u"url"_s})) {
        return std::nullopt;
    }
    const auto name = NullableString(fields.value("name"_L1));
    const auto flag = NullableString(fields.value("flag"_L1));
    const auto url = NullableString(fields.value("url"_L1));
    if (!name || !flag || !url) {
        return std::nullopt;
    }
    return std::optional(Rule{*name, *flag, *url});
}

std::optional<std::vector<Rule>> DecodeRules(const QJsonValue& value) {
    if (!value.isArray()) {
        return std::nullopt;
    }
    std::vector<Rule> rules;
    for (const QJsonValue& item : value.toArray()) {
        const std::optional<std::optional<Rule>> rule = DecodeRule(item);
        if (!rule || !*rule) {
            return std::nullopt;
        }
        rules.push_back(**rule);
    }
    return rules;
}

std::optional<std::optional<MatchRuleRow>> DecodeMatchRule(const QJsonValue& value) {
    if (value.isNull()) {
        return std::optional<MatchRuleRow>();
    }
    const QJsonObject fields = value.toObject();
    if (!value.isObject() ||
        !HasExactly(fields, {u"id"_s, u"kind"_s, u"text"_s, u"flag"_s, u"times"_s})) {
        return std::nullopt;
    }
    const std::optional<qint64> id = WholeNumber(fields.value("id"_L1));
    const auto kind = NullableString(fields.value("kind"_L1));
    const auto text = NullableString(fields.value("text"_L1));
    const auto flag = NullableString(fields.value("flag"_L1));
    const auto times = NullableString(fields.value("times"_L1));
    if (!id || !kind || !text || !flag || !times) {
        return std::nullopt;
    }
    return std::optional(MatchRuleRow{*id, *kind, *text, *flag, *times});
}

std::optional<std::vector<MatchRuleRow>> DecodeMatchRules(const QJsonValue& value) {
    if (!value.isArray()) {
        return std::nullopt;
    }
    std::vector<MatchRuleRow> rules;
    for (const QJsonValue& item : value.toArray()) {
        const std::optional<std::optional<MatchRuleRow>> rule = DecodeMatchRule(item);
        if (!rule || !*rule) {
            return std::nullopt;
        }
        rules.push_back(**rule);
    }
    return rules;
}

std::optional<bool> DecodeTruth(const QJsonValue& value) {
    return value.isBool() ? std::optional(value.toBool()) : std::nullopt;
}

std::optional<int> DecodeCount(const QJsonValue& value) {
    const std::optional<qint64> number = WholeNumber(value);
    if (!number || *number < 0 || *number > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return int(*number);
}

} // namespace winwarden
