#pragma once

#include <QString>

// Texts the user sees, exactly as the program shows them.
namespace winwarden::text {

inline const QString kAppName = QStringLiteral("winwarden");
inline const QString kDocTitle = QStringLiteral("浏览哨兵");
inline const QString kOpenDbFailed = QStringLiteral("连接数据库失败!   ");
inline const QString kPromptCaption = QStringLiteral("系统提示");

// The live list and the rule list.
inline const QString kColumnCaption = QStringLiteral("窗口标题");
inline const QString kColumnFlag = QStringLiteral("窗口标记");
inline const QString kColumnUrl = QStringLiteral("网址");
inline constexpr int kColumnCaptionWidth = 480;
inline constexpr int kColumnFlagWidth = 60;
inline constexpr int kColumnUrlWidth = 240;
// The flag of a page a match rule decides: the flag, then the rule by kind and text.
inline const QString kDecidedByMatchRule = QStringLiteral("%1（%2）");

// What follows a page title in its browser window's caption.
inline const QString kCaptionSuffix = QStringLiteral(" - Microsoft Internet Explorer");

inline const QString kSelectWindow = QStringLiteral("请选择一个窗口 ！  ");
inline const QString kConfirmDelete =
    QStringLiteral("窗口名：%1     \n网　址：%2     \n\n是否真的要删除 ？");
inline const QString kStatusRunning = QStringLiteral("《 浏览哨兵》程序，正常运行！   ");
inline const QString kStatusStopped = QStringLiteral("《 浏览哨兵》程序，停止运行！   ");

// A rule command the store refused; the engine's message follows.
inline const QString kLoadRulesFailed = QStringLiteral("读取规则失败：");
inline const QString kSetFlagFailed = QStringLiteral("修改窗口标记失败：");
inline const QString kDeleteRuleFailed = QStringLiteral("删除窗口规则失败：");
inline const QString kNoRuleForWindow =
    QStringLiteral("规则库中没有这个窗口的规则（它可能已被删除）");

// Adding a rule before the page is visited.
inline const QString kAddRuleCaption = QStringLiteral("添加规则");
inline const QString kAddRuleNameLabel = QStringLiteral("窗口名称（网页标题）：");
inline const QString kAddRuleUrlLabel = QStringLiteral("网址（可不填）：");
inline const QString kAddRuleFlagLabel = QStringLiteral("窗口标记：");
inline const QString kAddRuleEmptyName = QStringLiteral("请填写窗口名称（网页的标题）。");
inline const QString kAddRuleExists =
    QStringLiteral("窗口“%1”已有规则，标记为“%2”。\n\n是否把这条规则的标记改为“%3”？");
inline const QString kAddRuleFailed = QStringLiteral("添加规则失败：");

// Match rules: a whole site, or words in the title.
inline const QString kMatchNotAHost =
    QStringLiteral("“%1”不是网站的主机名。请填写像 game.example 这样的名字，或粘贴一个网址。");
inline const QString kMatchNoWords =
    QStringLiteral("“标题包含”的文字只有看不见的字符，不能匹配任何标题。");
inline const QString kMatchUnknownKind = QStringLiteral("没有“%1”这种规则。");
inline const QString kAddRuleKindLabel = QStringLiteral("种类：");
inline const QString kAddRuleSiteLabel = QStringLiteral("网站（主机名或网址）：");
inline const QString kAddRuleWordsLabel = QStringLiteral("标题中包含的文字：");
inline const QString kAddRuleHostTaken = QStringLiteral("将添加网站：%1");
inline const QString kAddRuleNoHost = QStringLiteral("这不是网站的主机名");
inline const QString kAddRuleEmptySite = QStringLiteral("请填写网站（主机名，或粘贴一个网址）。");
inline const QString kAddRuleEmptyWords = QStringLiteral("请填写标题中包含的文字。");
inline const QString kAddRuleAllWebLabel = QStringLiteral("名称（可不填）：");
inline const QString kAllWebDefaultName = QStringLiteral("所有网页");

// When a match rule holds and how long a day (monitor/scheduleedit.*).
inline const QString kScheduleCaption = QStringLiteral("只在这些时间生效，或每天限时");
inline const QString kScheduleHint =
    QStringLiteral("结束早于开始即跨过午夜，如 21:00 至 07:00 到次日早上。每天限时而不选时间段的，"
                   "在选中的日子里全天都算：每人每天用完这些分钟后禁止，到第二天再开放。");
inline const QString kAllowanceBox = QStringLiteral("每天限时：");
inline const QString kAllowanceMinutesName = QStringLiteral("每天分钟数");
inline const QString kAllowanceOnWords =
    QStringLiteral("“标题包含”规则不能每天限时：每天限时只用于网站和全部网页规则");
inline const QString kMatchTableMissing =
    QStringLiteral("规则数据库中还没有放网站和标题包含规则的表（匹配规则）。\n\n是否现在添加？");
inline const QString kMatchRuleExists =
    QStringLiteral("已有%1规则“%2”，标记为“%3”。\n\n是否把这条规则的标记改为“%4”？");
inline const QString kMatchRuleTimesChange = QStringLiteral("\n\n它的时间也将由“%1”改为“%2”。");
inline const QString kAlways = QStringLiteral("总是生效");
inline const QString kMatchListName = QStringLiteral("匹配规则（网站、标题包含、全部网页）");
inline const QString kColumnMatchText = QStringLiteral("内容");
inline const QString kColumnMatchKind = QStringLiteral("种类");
inline const QString kColumnMatchTimes = QStringLiteral("时间");
inline constexpr int kColumnMatchTimesWidth = 220;
// Today's use of a rule's daily allowance: the viewer's own, or each person's by name.
inline const QString kColumnMatchUse = QStringLiteral("今天");
inline constexpr int kColumnMatchUseWidth = 160;
inline const QString kUseOwn = QStringLiteral("已用 %1/%2 分钟");
inline const QString kUsePerson = QStringLiteral("%1 %2/%3");
inline const QString kUsePeople = QStringLiteral("已用 %1 分钟");
inline const QString kUseUnnamed = QStringLiteral("用户 %1");
inline constexpr int kColumnMatchKindWidth = 70;
inline const QString kBlockSiteCommand = QStringLiteral("禁止这个网站");
inline const QString kBlockSiteNoHost = QStringLiteral("这一行的网址中没有网站。");
inline const QString kBlockSiteFailed = QStringLiteral("禁止网站失败：");

// The filter above the list.
inline const QString kFilterPlaceholder =
    QStringLiteral("筛选：窗口标题或网址中包含的文字（Esc 关闭）");
inline const QString kFilterName = QStringLiteral("筛选");
inline const QString kFilterClearName = QStringLiteral("清除筛选");

// The list as a screen reader names it, by what it shows.
inline const QString kLiveListName = QStringLiteral("监视到的浏览器窗口");
inline const QString kRuleListName = QStringLiteral("标记为“%1”的窗口规则");

// The tray's word on pages the monitor closed.
inline const QString kClosedCaption = QStringLiteral("浏览哨兵");
inline const QString kClosedOne = QStringLiteral("已关闭：%1");
inline const QString kClosedMany = QStringLiteral("已关闭 %1 个网页：%2");

// The status bar's monitor pane.
inline const QString kPaneMonitoring = QStringLiteral("监视中");
inline const QString kPaneStopped = QStringLiteral("未监视");
inline const QString kPaneWindows = QStringLiteral("浏览器窗口 %1 个");
inline const QString kPaneNoBrowser = QStringLiteral("没有浏览器应答");
inline const QString kPaneSomeBrowsersSilent = QStringLiteral("%1 个浏览器未应答");
inline const QString kPaneStoreFailed = QStringLiteral("窗口规则读写失败");
inline const QString kPaneGuarded = QStringLiteral("由系统守护监视");

// The window of the system guard (winwarden-guard), reached over its control socket.
inline const QString kRulesForAdministratorsOnly =
    QStringLiteral("只有管理员（winwarden 组成员）才能修改规则");
inline const QString kAllPagesForAdministratorsOnly =
    QStringLiteral("只有管理员（winwarden 组成员）才能查看所有用户浏览过的网页");
// A page of another user's browser in an administrator's live list: the user, then the caption.
inline const QString kOtherUsersPage = QStringLiteral("【%1】%2");
inline const QString kGuardLost = QStringLiteral("与系统守护的连接已断开，正在重新连接");
inline const QString kGuardNoAnswer = QStringLiteral("系统守护没有及时应答，请稍后再试");
inline const QString kGuardAnswerTooLarge = QStringLiteral("回答太大，系统守护无法传给窗口");

// A web address the desktop could not open; the address follows on its own line.
inline const QString kLinkNotOpened =
    QStringLiteral("无法打开这个网址，请复制后在浏览器中打开：\n%1");

// The buttons of the program's own boxes, whatever language Qt itself speaks.
inline const QString kButtonOk = QStringLiteral("确定");
inline const QString kButtonCancel = QStringLiteral("取消");

// The publisher's download page.
inline const QString kDownloadPageUrl =
    QStringLiteral("https://www.winwarden.net/software/index.htm");

} // namespace winwarden::text
