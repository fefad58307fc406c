#include "control/allowanceprotocol.h"

#include "control/visitprotocol.h"

#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace winwarden {

QJsonArray EncodeAllowanceUses(const std::vector<AllowanceUse>& uses) {
    QJsonArray list;
    for (const AllowanceUse& use : uses) {
        list.append(QJsonObject{{u"rule"_s, double(use.rule)},
                                {u"uid"_s, double(use.uid)},
                                {u"user"_s, use.user},
                                {u"used"_s, use.usedMinutes},
                                {u"allowance"_s, use.allowance}});
    }
    return list;
}

std::optional<std::vector<AllowanceUse>> DecodeAllowanceUses(const QJsonValue& value) {
    if (!value.isArray()) {
        return std::nullopt;
    }
    std::vector<AllowanceUse> uses;
    for (const QJsonValue& item : value.toArray()) {
        const QJsonObject object = item.toObject();
        const std::optional<qint64> rule = Whole(object[u"rule"_s]), uid = Whole(object[u"uid"_s]),
                                    used = Whole(object[u"used"_s]),
                                    allowance = Whole(object[u"allowance"_s]);
        if (!item.isObject() || object.size() != 5 || !object[u"user"_s].isString() || !rule ||
            !uid || !used || !allowance || *used < 0 || *used > 24 * 60 || *allowance < 1 ||
            *allowance > 24 * 60) {
            return std::nullopt;
        }
        uses.push_back({*rule, *uid, object[u"user"_s].toString(), int(*used), int(*allowance)});
    }
    return uses;
}

} // namespace winwarden
