// Prints the log view of a running tagrelay.exe as UTF-8 on standard output, one row per line
// ended by CR LF, so system tests can look for the texts the program logs. The view is a list
// in another process: each row's text is fetched into memory allocated in that process. Exit
// status 0 once the rows were read, 1 when no window was found within the given seconds
// (default 20).
#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <string>
#include <vector>

#include "MainFormIds.h"

namespace {

constexpr DWORD SendTimeoutMs = 5000;
constexpr int TextChars = 8192;

// Memory in another process, released when the object goes.
class TRemoteBuffer {
 public:
  TRemoteBuffer(HANDLE Process, SIZE_T Size)
      : FProcess(Process),
        FAddress(VirtualAllocEx(Process, nullptr, Size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
  ~TRemoteBuffer() {
    if (FAddress) VirtualFreeEx(FProcess, FAddress, 0, MEM_RELEASE);
  }
  TRemoteBuffer(const TRemoteBuffer&) = delete;
  TRemoteBuffer& operator=(const TRemoteBuffer&) = delete;
  char* Address() const { return static_cast<char*>(FAddress); }

 private:
  HANDLE FProcess;
  void* FAddress;
};

bool ReadRows(HWND View, std::wstring& Text) {
  DWORD ProcessId = 0;
  GetWindowThreadProcessId(View, &ProcessId);
  HANDLE Process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                               ProcessId);
  if (!Process) return false;
  bool Ok = false;
  {
    TRemoteBuffer Remote(Process, sizeof(LVITEMW) + TextChars * sizeof(wchar_t));
    DWORD_PTR Count = 0;
    if (Remote.Address() && SendMessageTimeoutW(View, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG,
                                                SendTimeoutMs, &Count)) {
      auto* RemoteText = reinterpret_cast<wchar_t*>(Remote.Address() + sizeof(LVITEMW));
      std::vector<wchar_t> Row(TextChars);
      Ok = true;
      for (DWORD_PTR Index = 0; Ok && Index < Count; ++Index) {
        LVITEMW Item{};
        Item.pszText = RemoteText;
        Item.cchTextMax = TextChars;
        DWORD_PTR Copied = 0;
        Ok = WriteProcessMemory(Process, Remote.Address(), &Item, sizeof Item, nullptr) &&
             SendMessageTimeoutW(View, LVM_GETITEMTEXTW, Index,
                                 reinterpret_cast<LPARAM>(Remote.Address()), SMTO_ABORTIFHUNG,
                                 SendTimeoutMs, &Copied) &&
             ReadProcessMemory(Process, RemoteText, Row.data(), (Copied + 1) * sizeof(wchar_t),
                               nullptr);
        if (Ok) Text.append(Row.data(), Copied).append(L"\r\n");
      }
    }
  }
  CloseHandle(Process);
  return Ok;
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
    HWND View = Window ? GetDlgItem(Window, IDC_MEMOLOG) : nullptr;
    std::wstring Text;
    if (View && ReadRows(View, Text)) {
      WriteUtf8(Text);
      return 0;
    }
    Sleep(100);
  } while (GetTickCount64() < Deadline);
  return 1;
}
