// What the tests that drive the real tagrelay.exe's window share: configuration texts, text
// conversion, layout in screen scale, the bounded close and the message box checks.
#pragma once

#include <windows.h>

#include <string>

#include "AppDriver.h"

using namespace std::chrono_literals;

// Closing without a connection is immediate; connected, it may take the router's shutdown and
// one wait of the reconnect thread.
inline constexpr double IdleCloseSeconds = 3.0;
inline constexpr double ConnectedCloseSeconds = 8.0;

// The configuration file's section around the given lines.
std::string Section(const std::string& body);
// Settings for a plain link to a SCADA stand-in on 127.0.0.1, with more lines after them.
std::string LoopbackSettings(int port, const std::string& uid, const std::string& more = "");
std::wstring Widen(const std::string& s);
// Non-ASCII characters become '?'.
std::string Narrow(const std::wstring& s);
int ScaleForScreen(int pixels);
// A control's rectangle in the client coordinates of its window.
RECT ClientRectOf(HWND window, HWND control);
// Closes the program within the bound: exit code 0 and no tray icon left behind.
void ExpectClosesWithin(TRunningApp& app, double seconds);
// The message box shows the error icon.
void ExpectErrorIcon(HWND box);
// Clicks Apply: the message box it opened, or null.
HWND ApplyAndGetBox(TRunningApp& app);
// Ticks "Enable log".
void EnableLog(TRunningApp& app);
// The program's popup menu window, if one is open.
HWND OpenMenuOf(DWORD processId);
