#pragma once

#include "engine/monitor.h"

#include <QJsonArray>
#include <optional>
#include <vector>

namespace winwarden {

// Today's use of the allowances over the control socket: command "allowanceUses", no fields.
// Its result is a list, an administrator's of everyone, anyone else's of their own alone:
//   [{"rule","uid","user","used","allowance"},…]   ("used" and "allowance" in minutes)

QJsonArray EncodeAllowanceUses(const std::vector<AllowanceUse>& uses);
// Nothing when the value is not such a list.
std::optional<std::vector<AllowanceUse>> DecodeAllowanceUses(const QJsonValue& value);

} // namespace winwarden
