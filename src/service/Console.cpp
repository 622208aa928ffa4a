#include "Console.h"

#include <windows.h>

#include <string>

namespace {

void WriteUtf8(HANDLE Out, const std::u16string& Text) {
  const std::wstring Wide(Text.begin(), Text.end());
  const int N = WideCharToMultiByte(CP_UTF8, 0, Wide.data(), static_cast<int>(Wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string Bytes(static_cast<std::size_t>(N), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Wide.data(), static_cast<int>(Wide.size()), Bytes.data(), N,
                      nullptr, nullptr);
  DWORD Written = 0;
  WriteFile(Out, Bytes.data(), static_cast<DWORD>(Bytes.size()), &Written, nullptr);
}

bool Usable(HANDLE Handle) {
  return Handle && Handle != INVALID_HANDLE_VALUE && GetFileType(Handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void WriteConsoleText(const std::u16string& Text, bool Error) {
  if (Text.empty()) return;
  const std::u16string Line = Text.back() == u'\n' ? Text : Text + u"\r\n";
  HANDLE Out = GetStdHandle(Error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (Usable(Out)) {
    WriteUtf8(Out, Line);
    return;
  }
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  HANDLE Console =
      CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (Console != INVALID_HANDLE_VALUE) {
    const std::wstring Wide(Line.begin(), Line.end());
    DWORD Written = 0;
    WriteConsoleW(Console, Wide.data(), static_cast<DWORD>(Wide.size()), &Written, nullptr);
    CloseHandle(Console);
  }
  FreeConsole();
}
