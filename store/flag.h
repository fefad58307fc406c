#pragma once

#include <QString>

namespace winwarden {

// The two texts the program itself ever gives a rule's flag.
inline const QString kFlagPass = QStringLiteral("通过");
inline const QString kFlagBlock = QStringLiteral("禁止");

// The kinds of rule: a page title (table 窗口名表), and those of table 匹配规则 (its 种类); a
// 全部网页 rule speaks of every web page, its 内容 being only a name people give it.
inline const QString kKindTitle = QStringLiteral("窗口名称");
inline const QString kKindSite = QStringLiteral("网站");
inline const QString kKindTitleWord = QStringLiteral("标题包含");
inline const QString kKindAllWeb = QStringLiteral("全部网页");

// A rule blocks when its flag text begins with 禁止; longer texts that start with it
// block too, so a hand-edited "禁止访问" still closes the page.
inline bool IsBlockingFlag(const QString& flag) {
    return flag.startsWith(kFlagBlock);
}

} // namespace winwarden
