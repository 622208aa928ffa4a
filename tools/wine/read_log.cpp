// Prints the log view of a running tagrelay.exe as UTF-8 on standard output, so system tests can
// look for the texts the program logs. Exit status 0 once the text was read, 1 when no window was
// found within the given seconds (default 20).
#include <windows.h>

#include <cwchar>
#include <string>

#include "MainFormIds.h"

namespace {

constexpr DWORD SendTimeoutMs = 5000;

bool ReadText(HWND Memo, std::wstring& Text) {
  DWORD_PTR Length = 0;
  if (!SendMessageTimeoutW(Memo, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &Length))
    return false;
  Text.assign(Length + 1, L'\0');
  DWORD_PTR Copied = 0;
  if (!SendMessageTimeoutW(Memo, WM_GETTEXT, Length + 1, reinterpret_cast<LPARAM>(Text.data()),
                           SMTO_ABORTIFHUNG, SendTimeoutMs, &Copied))
    return false;
  Text.resize(Copied);
  return true;
}

void WriteUtf8(const std::wstring& Text) {
  const int Size = WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string Bytes(static_cast<size_t>(Size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Bytes.data(), Size,
                      nullptr, nullptr);
  DWORD Written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), Bytes.data(), static_cast<DWORD>(Bytes.size()),
            &Written, nullptr);
}

}  // namespace

int wmain(int Argc, wchar_t** Argv) {
  const long Seconds = Argc > 1 ? std::wcstol(Argv[1], nullptr, 10) : 20;
  const ULONGLONG Deadline = GetTickCount64() + static_cast<ULONGLONG>(Seconds) * 1000;
  do {
    HWND Window = FindWindowW(MainFrmClassName, nullptr);
    HWND Memo = Window ? GetDlgItem(Window, IDC_MEMOLOG) : nullptr;
    std::wstring Text;
    if (Memo && ReadText(Memo, Text)) {
      WriteUtf8(Text);
      return 0;
    }
    Sleep(100);
  } while (GetTickCount64() < Deadline);
  return 1;
}
