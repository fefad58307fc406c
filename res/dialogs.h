#pragma once

#include <QStringView>
#include <array>

namespace winwarden::res {

enum class ControlKind { Icon, Text, Button, GroupBox };

// A control of a dialog layout; positions and sizes are in dialog units.
struct DialogControl {
    ControlKind kind;
    QStringView text;
    int x, y, width, height;
};

// A dialog layout: caption, size in dialog units, and the font the units are measured in.
struct DialogLayout {
    QStringView caption;
    int width, height;
    QStringView fontFamily;
    int fontPointSize;
};

// The About box.
inline constexpr DialogLayout kAboutBox{u"关于 winwarden", 276, 99, u"宋体", 9};
inline constexpr std::array<DialogControl, 4> kAboutBoxControls{{
    {ControlKind::Icon, u"", 15, 16, 21, 21},
    // %1: the version (res/version.h).
    {ControlKind::Text, u"浏览哨兵 winwarden %1 版", 54, 16, 119, 8},
    {ControlKind::Button, u"确定", 219, 73, 50, 14},
    {ControlKind::GroupBox, u"", 0, 0, 275, 99},
}};

} // namespace winwarden::res
