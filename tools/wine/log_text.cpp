// Prints the text of a running tagrelay.exe's log view as UTF-8, for tests that check what the
// log shows. Waits up to the given seconds (default 20) for the window; exit status 0 once the
// text is printed (it may be empty).
#include <windows.h>

#include <cwchar>
#include <string>

#include "MainFormIds.h"

namespace {

constexpr DWORD SendTimeoutMs = 5000;

bool PrintText(HWND Control) {
  DWORD_PTR Length = 0;
  if (!SendMessageTimeoutW(Control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs,
                           &Length))
    return false;
  std::wstring Text(Length + 1, L'\0');
  DWORD_PTR Copied = 0;
  if (!SendMessageTimeoutW(Control, WM_GETTEXT, Text.size(), reinterpret_cast<LPARAM>(&Text[0]),
                           SMTO_ABORTIFHUNG, SendTimeoutMs, &Copied))
    return false;
  Text.resize(Copied);
  int Bytes = WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr,
                                  0, nullptr, nullptr);
  std::string Utf8(static_cast<std::size_t>(Bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), &Utf8[0], Bytes,
                      nullptr, nullptr);
  DWORD Written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), Utf8.data(), static_cast<DWORD>(Utf8.size()),
            &Written, nullptr);
  return true;
}

}  // namespace

int wmain(int Argc, wchar_t** Argv) {
  const long Seconds = Argc > 1 ? std::wcstol(Argv[1], nullptr, 10) : 20;
  const ULONGLONG Deadline = GetTickCount64() + static_cast<ULONGLONG>(Seconds) * 1000;
  do {
    HWND Window = FindWindowW(MainFrmClassName, nullptr);
    HWND Log = Window ? GetDlgItem(Window, IDC_MEMOLOG) : nullptr;
    if (Log && PrintText(Log)) return 0;
    Sleep(100);
  } while (GetTickCount64() < Deadline);
  return 1;
}
