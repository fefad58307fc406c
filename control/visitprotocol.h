#pragma once

#include "control/controlprotocol.h"
#include "store/visitstore.h"

#include <QJsonArray>
#include <QStringList>
#include <optional>
#include <vector>

namespace winwarden {

// The visit record over the control socket: command "listVisits" with the text fields
// "user" (a name, "#<uid>" for a user by number, or empty for everyone), "since" and "until"
// (ms since the epoch, "0" for no bound). Its result is a list of visits:
//   [{"id","uid","user","station","title","host","url","start","end","front","result","rule"},…]
// with "front" null where the time in front is not known.

// A whole number as JSON carries it exactly (below 2^53), or nothing.
std::optional<qint64> Whole(const QJsonValue& value);

QStringList VisitCallArgs(const VisitQuery& query);
// Throws StoreError for fields that are not of that form.
VisitQuery VisitQueryFromCall(const ControlCall& call);

QJsonArray EncodeVisits(const std::vector<VisitRow>& visits);
// Nothing when the value is not such a list.
std::optional<std::vector<VisitRow>> DecodeVisits(const QJsonValue& value);

} // namespace winwarden
