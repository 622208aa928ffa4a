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
};

// The read counter changed; the label is updated on the window thread.
inline constexpr UINT WM_QUERYCOUNTCHANGED = WM_APP + 1;
// Notifications of the tray icon (LPARAM: the mouse message).
inline constexpr UINT WM_TRAYICON = WM_APP + 2;
inline constexpr UINT TrayIconId = 1;

// Resource identifiers.
inline constexpr int IDI_MAINICON = 1;
