// Control identifiers and window messages of the main window, shared with the tools that drive it.
#pragma once

#include <windows.h>

inline constexpr wchar_t MainFrmClassName[] = L"TagrelayMainFrm";
inline constexpr wchar_t MainFrmCaption[] = L"Tagrelay";

enum : int {
  IDC_MEMOLOG = 101,
  IDC_LABEL1,
  IDC_QUERYCOUNTLABEL,
  IDC_LOGENABCHECKBOX,
  IDC_SERVERIPADDRLABEL,
  IDC_SERVERIPADDREDIT,
  IDC_SERVERPORTLABEL,
  IDC_SERVERPORTEDIT,
  IDC_CLIENTUIDLABEL,
  IDC_CLIENTUIDEDIT,
  IDC_SSLCONNECTCHECKBOX,
  IDC_APPLYBUTTON,
  IDC_STATUSLABEL,
};

// The status line is read from the link this often.
inline constexpr UINT StatusTimerId = 1;
inline constexpr UINT StatusPeriodMs = 250;
inline constexpr UINT ServiceWatchTimerId = 2;
inline constexpr UINT ServiceWatchPeriodMs = 5000;

// The read counter changed; the label is updated on the window thread.
inline constexpr UINT WM_QUERYCOUNTCHANGED = WM_APP + 1;
// Notifications of the tray icon (LPARAM: the mouse message).
inline constexpr UINT WM_TRAYICON = WM_APP + 2;
inline constexpr UINT TrayIconId = 1;

// Resource identifiers: the program's icon, and the tray icons of a link that is up or not.
inline constexpr int IDI_MAINICON = 1;
inline constexpr int IDI_CONNECTED = 2;
inline constexpr int IDI_DISCONNECTED = 3;

// Commands of the tray icon's menu.
enum : UINT {
  IDM_TRAYSHOW = 10,
  IDM_TRAYAUTOSTART,
  IDM_TRAYEXIT,
};
