#pragma once

#include <QStringView>
#include <array>

namespace winwarden::res {

enum class ControlKind { Icon, Text, Button, GroupBox, List };

// A control of a dialog template; positions and sizes are in dialog units.
struct DialogControl {
    ControlKind kind;
    int id; // -1: a control nothing addresses
    QStringView text;
    int x, y, width, height;
};

// A dialog template: caption, size in dialog units, and the font the units are measured in.
struct DialogTemplate {
    QStringView caption;
    int width, height;
    QStringView fontFamily;
    int fontPointSize;
};

inline constexpr int kIdOk = 1;
inline constexpr int kIdList = 1000;

// The About box, template 100.
inline constexpr DialogTemplate kAboutBox{u"关于 winwarden", 276, 99, u"宋体", 9};
inline constexpr std::array<DialogControl, 4> kAboutBoxControls{{
    {ControlKind::Icon, -1, u"", 15, 16, 21, 21},
    {ControlKind::Text, -1, u"浏览哨兵 winwarden 1.0 版", 54, 16, 119, 8},
    {ControlKind::Button, kIdOk, u"确定", 219, 73, 50, 14},
    {ControlKind::GroupBox, -1, u"", 0, 0, 275, 99},
}};

// The main view's form, template 101: one list that the view stretches over itself.
inline constexpr DialogTemplate kMainForm{u"", 6, 6, u"宋体", 9};
inline constexpr std::array<DialogControl, 1> kMainFormControls{{
    {ControlKind::List, kIdList, u"List1", 0, 0, 6, 6},
}};

} // namespace winwarden::res
