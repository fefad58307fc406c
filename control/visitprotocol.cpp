#include "control/visitprotocol.h"

#include "store/storeerror.h"

#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

qint64 Bound(const QString& text) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 0) {
        throw StoreError(u"bad-bound"_s, u"访问记录的时间范围无效：%1"_s.arg(text));
    }
    return value;
}

} // namespace

std::optional<qint64> Whole(const QJsonValue& value) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    constexpr double limit = 9007199254740992.0; // 2^53
    if (number != static_cast<double>(static_cast<qint64>(number)) || number > limit ||
        number < -limit) {
        return std::nullopt;
    }
    return static_cast<qint64>(number);
}

QStringList VisitCallArgs(const VisitQuery& query) {
    return {query.uid ? u"#"_s + QString::number(*query.uid) : query.user,
            QString::number(query.since), QString::number(query.until)};
}

VisitQuery VisitQueryFromCall(const ControlCall& call) {
    VisitQuery query;
    const QString user = call.args.value(0);
    if (user.startsWith(u'#')) {
        bool ok = false;
        query.uid = user.mid(1).toLongLong(&ok);
        if (!ok) {
            throw StoreError(u"bad-user"_s, u"访问记录的用户无效：%1"_s.arg(user));
        }
    } else {
        query.user = user;
    }
    query.since = Bound(call.args.value(1));
    query.until = Bound(call.args.value(2));
    return query;
}

QJsonArray EncodeVisits(const std::vector<VisitRow>& visits) {
    QJsonArray list;
    for (const VisitRow& visit : visits) {
        list.append(QJsonObject{
            {u"id"_s, double(visit.id)},
            {u"uid"_s, double(visit.uid)},
            {u"user"_s, visit.user},
            {u"station"_s, visit.station},
            {u"title"_s, visit.title},
            {u"host"_s, visit.host},
            {u"url"_s, visit.url},
            {u"start"_s, double(visit.start)},
            {u"end"_s, double(visit.end)},
            {u"front"_s, visit.frontMs ? QJsonValue(double(*visit.frontMs)) : QJsonValue()},
            {u"result"_s, visit.result},
            {u"rule"_s, visit.rule},
        });
    }
    return list;
}

std::optional<std::vector<VisitRow>> DecodeVisits(const QJsonValue& value) {
    if (!value.isArray()) {
        return std::nullopt;
    }
    std::vector<VisitRow> visits;
    for (const QJsonValue& item : value.toArray()) {
        const QJsonObject object = item.toObject();
        if (!item.isObject() || object.size() != 12) {
            return std::nullopt;
        }
        VisitRow visit;
        const std::optional<qint64> id = Whole(object[u"id"_s]), uid = Whole(object[u"uid"_s]),
                                    start = Whole(object[u"start"_s]),
                                    end = Whole(object[u"end"_s]);
        const QJsonValue front = object[u"front"_s];
        for (const char* field : {"user", "station", "title", "host", "url", "result", "rule"}) {
            if (!object[QLatin1StringView(field)].isString()) {
                return std::nullopt;
            }
        }
        if (!id || !uid || !start || !end || *end < *start || !(front.isNull() || Whole(front))) {
            return std::nullopt;
        }
        visit.id = *id;
        visit.uid = *uid;
        visit.start = *start;
        visit.end = *end;
        if (!front.isNull()) {
            visit.frontMs = Whole(front);
        }
        visit.user = object[u"user"_s].toString();
        visit.station = object[u"station"_s].toString();
        visit.title = object[u"title"_s].toString();
        visit.host = object[u"host"_s].toString();
        visit.url = object[u"url"_s].toString();
        visit.result = object[u"result"_s].toString();
        visit.rule = object[u"rule"_s].toString();
        visits.push_back(std::move(visit));
    }
    return visits;
}

} // namespace winwarden
