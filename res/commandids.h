#pragma once

namespace winwarden::cmd {

// The program's own commands.
inline constexpr int kStart = 32771;
inline constexpr int kStop = 32772;
inline constexpr int kShowBlocked = 32774;
inline constexpr int kShowPassed = 32775;
inline constexpr int kDeleteWindow = 32777;
inline constexpr int kDownloadPage = 32778;
inline constexpr int kRefreshList = 32779;
inline constexpr int kShowStatus = 32780;
inline constexpr int kAddRule = 32781;
inline constexpr int kShowMatchRules = 32782;
inline constexpr int kBlockSite = 32783;
inline constexpr int kShowVisits = 32784;

// Standard commands: document, editing, application and bar toggles.
inline constexpr int kFileNew = 57600;
inline constexpr int kFileOpen = 57601;
inline constexpr int kFileSave = 57603;
inline constexpr int kEditCopy = 57634;
inline constexpr int kEditCut = 57635;
inline constexpr int kEditPaste = 57637;
inline constexpr int kEditUndo = 57643;
inline constexpr int kAppAbout = 57664;
inline constexpr int kAppExit = 57665;
inline constexpr int kNextPane = 57680;
inline constexpr int kPrevPane = 57681;
inline constexpr int kViewToolbar = 59392;
inline constexpr int kViewStatusBar = 59393;

} // namespace winwarden::cmd
