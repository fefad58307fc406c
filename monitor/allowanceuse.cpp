#include "monitor/allowanceuse.h"

#include "res/texts.h"

#include <QStringList>
#include <algorithm>

namespace winwarden {

QString AllowanceUseText(const std::vector<AllowanceUse>& uses, qint64 rule, int allowance,
                         qint64 viewerUid) {
    std::vector<const AllowanceUse*> mine;
    for (const AllowanceUse& use : uses) {
        if (use.rule == rule) {
            mine.push_back(&use);
        }
    }
    if (mine.empty()) {
        return allowance > 0 ? text::kUseOwn.arg(0).arg(allowance) : QString();
    }
    const AllowanceUse& first = *mine.front();
    if (mine.size() == 1 && (first.user.isEmpty() || first.uid == viewerUid)) {
        return text::kUseOwn.arg(first.usedMinutes).arg(first.allowance);
    }
    // Names in a steady order, so that a refresh does not shuffle the cell.
    const auto name = [](const AllowanceUse& use) {
        return use.user.isEmpty() ? text::kUseUnnamed.arg(use.uid) : use.user;
    };
    std::sort(mine.begin(), mine.end(), [&name](const AllowanceUse* a, const AllowanceUse* b) {
        return name(*a) < name(*b);
    });
    QStringList people;
    for (const AllowanceUse* use : mine) {
        people << text::kUsePerson.arg(name(*use), QString::number(use->usedMinutes),
                                       QString::number(use->allowance));
    }
    return text::kUsePeople.arg(people.join(u'，'));
}

} // namespace winwarden
