#pragma once

#include <QString>

namespace winwarden::res {

// The program's version block.
inline const QString kFileVersion = QStringLiteral("1, 0, 0, 1");
inline const QString kFileDescription = QStringLiteral("ＩＥ监控应用程序，自动关闭不喜欢的网页。");
inline const QString kInternalName = QStringLiteral("winwarden");
inline const QString kProductName = QStringLiteral("winwarden 应用程序");

} // namespace winwarden::res
