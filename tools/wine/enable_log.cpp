// Ticks "Enable log" in a running tagrelay.exe's window, so a demo shows its log from the start.
// Waits up to the given seconds (default 20) for the window; exit status 0 once the box is ticked.
#include <windows.h>

#include <cwchar>

#include "MainFormIds.h"

namespace {

constexpr DWORD SendTimeoutMs = 5000;

bool Checked(HWND Box) {
  DWORD_PTR State = 0;
  SendMessageTimeoutW(Box, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &State);
  return State == BST_CHECKED;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR CmdLine, int) {
  const long Seconds = CmdLine && *CmdLine ? std::wcstol(CmdLine, nullptr, 10) : 20;
  const ULONGLONG Deadline = GetTickCount64() + static_cast<ULONGLONG>(Seconds) * 1000;
  do {
    HWND Window = FindWindowW(MainFrmClassName, nullptr);
    HWND Box = Window ? GetDlgItem(Window, IDC_LOGENABCHECKBOX) : nullptr;
    if (Box) {
      if (!Checked(Box)) {
        DWORD_PTR Result = 0;
        SendMessageTimeoutW(Box, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &Result);
      }
      if (Checked(Box)) return 0;
    }
    Sleep(100);
  } while (GetTickCount64() < Deadline);
  return 1;
}
