#pragma once

#include "engine/monitor.h"

#include <QString>
#include <vector>

namespace winwarden {

// What the match list shows of one rule's daily allowance today: "已用 42/60 分钟" for the
// viewer's own use, and each person by name where the list holds others' use too (an
// administrator's window over the guard): "已用 alice 42/60，bob 10/60 分钟". `uses` are the
// monitor's for every rule; `allowance` is the rule's own, from its times (0: none), shown as
// unused while nobody has used any of it. Empty for a rule without an allowance.
QString AllowanceUseText(const std::vector<AllowanceUse>& uses, qint64 rule, int allowance,
                         qint64 viewerUid);

} // namespace winwarden
