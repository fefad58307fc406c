#pragma once

namespace winwarden {

// Names the settings file ~/.config/winwarden/winwarden.conf, and moves a file left at the
// place earlier versions used ("Local AppWizard-Generated Applications") there once.
void SetUpSettings();

// The user's choices kept in the settings file (QSettings of the application).
// [Monitor] StartAtLaunch: monitoring starts as soon as the window is up, as 启动 would.
bool MonitorAtLaunch();
// [Notifications] ClosedPages: the tray tells which pages the monitor closed (default on).
bool NotifyClosedPages();
// [History] KeepDays: how many days of visits the window's own monitor keeps (default 90; 0
// records none). A guard keeps what guard.conf's keep-history says.
int KeepHistoryDays();

} // namespace winwarden
