#include "CrashRecord.h"

#include <windows.h>
#include <dbghelp.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>

namespace {

using TMiniDumpWriteDump = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                         PMINIDUMP_EXCEPTION_INFORMATION,
                                         PMINIDUMP_USER_STREAM_INFORMATION,
                                         PMINIDUMP_CALLBACK_INFORMATION);

// Prepared at installation, so the filter neither loads libraries nor builds paths on the heap.
wchar_t RecordFolder[MAX_PATH];  // with a trailing backslash
wchar_t ParentFolder[MAX_PATH];
TMiniDumpWriteDump WriteDump = nullptr;
volatile LONG Entered = 0;

// A second thread that crashes while the first writes the record waits for it to end the
// process; the wait is bounded in case the first one never gets there.
constexpr DWORD OtherCrashWaitMs = 10000;

void WriteFileText(const wchar_t* Path, const char* Text) {
  HANDLE File = CreateFileW(Path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (File == INVALID_HANDLE_VALUE) return;
  DWORD Written = 0;
  WriteFile(File, Text, static_cast<DWORD>(std::strlen(Text)), &Written, nullptr);
  CloseHandle(File);
}

void WriteMiniDump(const wchar_t* Path, EXCEPTION_POINTERS* Exception) {
  if (!WriteDump) return;
  HANDLE File = CreateFileW(Path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (File == INVALID_HANDLE_VALUE) return;
  MINIDUMP_EXCEPTION_INFORMATION Info{GetCurrentThreadId(), Exception, FALSE};
  WriteDump(GetCurrentProcess(), GetCurrentProcessId(), File, MiniDumpNormal, &Info, nullptr,
            nullptr);
  CloseHandle(File);
}

// The base name (ASCII, '?' for other characters) of the module that holds Address, and the
// offset of Address in it.
void FindModule(void* Address, char (&Name)[MAX_PATH], uint64_t& Offset) {
  HMODULE Module = nullptr;
  wchar_t Path[MAX_PATH] = L"";
  std::strcpy(Name, "?");
  Offset = reinterpret_cast<uintptr_t>(Address);
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(Address), &Module) ||
      GetModuleFileNameW(Module, Path, MAX_PATH) == 0)
    return;
  Offset -= reinterpret_cast<uintptr_t>(Module);
  const wchar_t* Base = std::wcsrchr(Path, L'\\');
  Base = Base ? Base + 1 : Path;
  std::size_t I = 0;
  for (; Base[I] && I + 1 < MAX_PATH; ++I) Name[I] = Base[I] < 0x80 ? char(Base[I]) : '?';
  Name[I] = '\0';
}

LONG WINAPI WriteCrashRecord(EXCEPTION_POINTERS* Exception) {
  if (InterlockedExchange(&Entered, 1) != 0) {
    Sleep(OtherCrashWaitMs);
    TerminateProcess(GetCurrentProcess(), Exception->ExceptionRecord->ExceptionCode);
  }
  SYSTEMTIME Now;
  GetLocalTime(&Now);
  const DWORD Code = Exception->ExceptionRecord->ExceptionCode;
  char Module[MAX_PATH];
  uint64_t Offset = 0;
  FindModule(Exception->ExceptionRecord->ExceptionAddress, Module, Offset);

  char Name[64];
  wsprintfA(Name, "crash-%04u%02u%02u-%02u%02u%02u-%lu", Now.wYear, Now.wMonth, Now.wDay,
            Now.wHour, Now.wMinute, Now.wSecond, GetCurrentProcessId());
  wchar_t Base[MAX_PATH + 64];
  wsprintfW(Base, L"%s%hs", RecordFolder, Name);
  wchar_t Path[MAX_PATH + 80];
  CreateDirectoryW(ParentFolder, nullptr);
  CreateDirectoryW(RecordFolder, nullptr);

  wsprintfW(Path, L"%s.dmp", Base);
  WriteMiniDump(Path, Exception);

  TCrashFacts Facts{Now.wYear, Now.wMonth, Now.wDay, Now.wHour, Now.wMinute, Now.wSecond,
                    Code, Module, Offset};
  char Line[MAX_PATH + 96];
  FormatCrashLine(Facts, Line, sizeof Line - 2);
  std::strcat(Line, "\r\n");
  wsprintfW(Path, L"%s.txt", Base);
  WriteFileText(Path, Line);

  std::strcat(Name, "\r\n");
  wsprintfW(Path, L"%s%hs", RecordFolder, UnreportedMarker);
  WriteFileText(Path, Name);

  TerminateProcess(GetCurrentProcess(), Code);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

std::filesystem::path CrashFolder() {
  wchar_t Local[MAX_PATH] = L"";
  DWORD Length = GetEnvironmentVariableW(L"LOCALAPPDATA", Local, MAX_PATH);
  if (Length == 0 || Length >= MAX_PATH)
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, Local);
  return std::filesystem::path(Local) / L"Tagrelay" / L"crash";
}

void InstallCrashRecords(const std::filesystem::path& Crash) {
  const std::wstring Text = Crash.wstring() + L"\\";
  const std::wstring Parent = Crash.parent_path().wstring();
  if (Text.size() >= MAX_PATH) return;  // no room for a record's name: no records
  std::wcscpy(RecordFolder, Text.c_str());
  std::wcscpy(ParentFolder, Parent.c_str());
  if (HMODULE DbgHelp = LoadLibraryW(L"dbghelp.dll"))
    WriteDump = reinterpret_cast<TMiniDumpWriteDump>(
        reinterpret_cast<void*>(GetProcAddress(DbgHelp, "MiniDumpWriteDump")));
  SetUnhandledExceptionFilter(WriteCrashRecord);
}
