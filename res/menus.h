#pragma once

#include "res/commandids.h"

#include <QStringView>
#include <array>
#include <span>

namespace winwarden::res {

// One entry of a drop-down menu; a command id of 0 is a separator.
struct MenuItem {
    QStringView caption;
    int commandId = 0;

    constexpr bool IsSeparator() const { return commandId == 0; }
};

// A drop-down menu of the menu bar.
struct Menu {
    QStringView caption;
    std::span<const MenuItem> items;
};

inline constexpr MenuItem kSeparator{};

inline constexpr MenuItem kSystemMenu[] = {
    {u"启动", cmd::kStart},
    {u"停止", cmd::kStop},
    kSeparator,
    {u"退出(&X)", cmd::kAppExit},
};

inline constexpr MenuItem kWindowMenu[] = {
    {u"禁止的窗口", cmd::kShowBlocked},
    {u"通过的窗口", cmd::kShowPassed},
    {u"匹配规则", cmd::kShowMatchRules},
    {u"访问记录", cmd::kShowVisits},
    kSeparator,
    {u"删除一个窗口", cmd::kDeleteWindow},
    {u"刷新监视屏幕", cmd::kRefreshList},
    kSeparator,
    {u"添加规则…", cmd::kAddRule},
    {u"禁止这个网站", cmd::kBlockSite},
};

inline constexpr MenuItem kViewMenu[] = {
    {u"工具栏(&T)", cmd::kViewToolbar},
    {u"状态栏(&S)", cmd::kViewStatusBar},
    kSeparator,
    {u"程序状态", cmd::kShowStatus},
};

inline constexpr MenuItem kHelpMenu[] = {
    {u"关于 winwarden(&A)...", cmd::kAppAbout},
    kSeparator,
    {u"下载最新版本", cmd::kDownloadPage},
};

// The main menu, in menu-bar order.
inline constexpr std::array<Menu, 4> kMainMenu{{
    {u"系统(&S)", kSystemMenu},
    {u"窗口(&W)", kWindowMenu},
    {u"查看(&V)", kViewMenu},
    {u"帮助(&H)", kHelpMenu},
}};

// The toolbar's buttons, left to right.
inline constexpr std::array<int, 1> kToolbarButtons{cmd::kAppAbout};

} // namespace winwarden::res
