#include "CrashRecord.h"

#include <windows.h>
#include <dbghelp.h>
#include <shlobj.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <exception>

namespace {

using TMiniDumpWriteDump = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                         PMINIDUMP_EXCEPTION_INFORMATION,
                                         PMINIDUMP_USER_STREAM_INFORMATION,
                                         PMINIDUMP_CALLBACK_INFORMATION);

// Prepared at installation, so the writer neither loads libraries nor builds paths on the heap.
wchar_t RecordFolder[MAX_PATH];  // with a trailing backslash
wchar_t ParentFolder[MAX_PATH];
TMiniDumpWriteDump WriteDump = nullptr;
volatile LONG Entered = 0;

// The crash handed to the writer thread, and the two events between it and the crashed thread.
EXCEPTION_POINTERS* PendingException = nullptr;
DWORD PendingThread = 0;
HANDLE WakeWriter = nullptr;
HANDLE RecordDone = nullptr;
DWORD WriterThreadId = 0;
volatile LONG WriterStopping = 0;

// A second thread that crashes while the first one's record is written waits for the process to
// end; the wait is bounded in case that never happens.
constexpr DWORD OtherCrashWaitMs = 10000;
// The crashed thread's wait for the writer: bounded, since writing a dump can hang (a crash
// inside the loader lock, a heap that is corrupt); the process ends either way, and the line and
// the marker are written before the dump. A dump takes well under a second on Windows, but
// half a minute and more under Wine.
constexpr DWORD RecordWaitMs = 60000;
constexpr DWORD WaitSliceMs = 20;
// The writer thread needs little: a few frames of its own and dbghelp's.
constexpr SIZE_T WriterStackBytes = 256 * 1024;

void WriteFileText(const wchar_t* Path, const char* Text) {
  HANDLE File =
      CreateFileW(Path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return;
  DWORD Written = 0;
  WriteFile(File, Text, static_cast<DWORD>(std::strlen(Text)), &Written, nullptr);
  CloseHandle(File);
}

void WriteMiniDump(const wchar_t* Path, EXCEPTION_POINTERS* Exception, DWORD ThreadId) {
  if (!WriteDump) return;
  HANDLE File =
      CreateFileW(Path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return;
  MINIDUMP_EXCEPTION_INFORMATION Info{ThreadId, Exception, FALSE};
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

// The record of the crash of thread ThreadId: the line, the marker and the minidump.
void WriteRecord(EXCEPTION_POINTERS* Exception, DWORD ThreadId) {
  SYSTEMTIME Now;
  GetLocalTime(&Now);
  const DWORD Code = Exception->ExceptionRecord->ExceptionCode;
  char Module[MAX_PATH];
  uint64_t Offset = 0;
  FindModule(Exception->ExceptionRecord->ExceptionAddress, Module, Offset);

  char Name[64];
  wsprintfA(Name, "crash-%04u%02u%02u-%02u%02u%02u-%lu", Now.wYear, Now.wMonth, Now.wDay, Now.wHour,
            Now.wMinute, Now.wSecond, GetCurrentProcessId());
  wchar_t Base[MAX_PATH + 64];
  wsprintfW(Base, L"%s%hs", RecordFolder, Name);
  wchar_t Path[MAX_PATH + 80];
  CreateDirectoryW(ParentFolder, nullptr);
  CreateDirectoryW(RecordFolder, nullptr);

  TCrashFacts Facts{Now.wYear,   Now.wMonth, Now.wDay, Now.wHour, Now.wMinute,
                    Now.wSecond, Code,       Module,   Offset};
  char Line[MAX_PATH + 96];
  FormatCrashLine(Facts, Line, sizeof Line - 2);
  std::strcat(Line, "\r\n");
  wsprintfW(Path, L"%s.txt", Base);
  WriteFileText(Path, Line);

  std::strcat(Name, "\r\n");
  wsprintfW(Path, L"%s%hs", RecordFolder, UnreportedMarker);
  WriteFileText(Path, Name);

  // Last, since it is the step that may not end: the line and the marker are in place already.
  wsprintfW(Path, L"%s.dmp", Base);
  WriteMiniDump(Path, Exception, ThreadId);
}

// The writer thread: sleeps until a crash wakes it (or the records end), writes the record with
// a stack of its own and tells the crashed thread.
DWORD WINAPI RunWriter(void*) {
  WaitForSingleObject(WakeWriter, INFINITE);
  if (WriterStopping) return 0;
  WriteRecord(PendingException, PendingThread);
  SetEvent(RecordDone);
  return 0;
}

// Everything that ends the program in a crash comes here: the record is written, by the writer
// thread when there is one, and the process ends with the crash's code. Kept small, since it may
// run on a thread whose stack is spent.
[[noreturn]] void RecordAndEnd(EXCEPTION_POINTERS* Exception) {
  const DWORD Code = Exception->ExceptionRecord->ExceptionCode;
  if (InterlockedExchange(&Entered, 1) != 0) {
    Sleep(OtherCrashWaitMs);
    TerminateProcess(GetCurrentProcess(), Code);
  }
  PendingException = Exception;
  PendingThread = GetCurrentThreadId();
  if (WakeWriter && !WriterStopping && PendingThread != WriterThreadId) {
    SetEvent(WakeWriter);
    // In short waits: under Wine, the dump stalled while this thread sat in one long wait.
    for (DWORD Waited = 0; Waited < RecordWaitMs; Waited += WaitSliceMs)
      if (WaitForSingleObject(RecordDone, WaitSliceMs) != WAIT_TIMEOUT) break;
  } else {
    WriteRecord(Exception, PendingThread);
  }
  TerminateProcess(GetCurrentProcess(), Code);
  for (;;) Sleep(INFINITE);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* Exception) {
  RecordAndEnd(Exception);
}

// An end that is no exception: the record shows the calling thread where it was.
[[noreturn]] void RecordHere(DWORD Code) {
  CONTEXT Context{};
  RtlCaptureContext(&Context);
  EXCEPTION_RECORD Record{};
  Record.ExceptionCode = Code;
  Record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
#ifdef _WIN64
  Record.ExceptionAddress = reinterpret_cast<void*>(Context.Rip);
#else
  Record.ExceptionAddress = reinterpret_cast<void*>(Context.Eip);
#endif
  EXCEPTION_POINTERS Pointers{&Record, &Context};
  RecordAndEnd(&Pointers);
}

void OnTerminate() {
  RecordHere(CrashCodeTerminate);
}

void OnAbort(int) {
  RecordHere(CrashCodeAbort);
}

void OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {
  RecordHere(CrashCodeInvalidParameter);
}

// dbghelp.dll from the system folder only, never from the program's folder or the current one.
TMiniDumpWriteDump LoadDumpWriter() {
  HMODULE DbgHelp = LoadLibraryExW(L"dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!DbgHelp) {
    // Systems without the search flags: the system folder's file by its full path.
    wchar_t Path[MAX_PATH];
    const UINT Length = GetSystemDirectoryW(Path, MAX_PATH - 16);
    if (Length == 0 || Length >= MAX_PATH - 16) return nullptr;
    std::wcscat(Path, L"\\dbghelp.dll");
    DbgHelp = LoadLibraryExW(Path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  if (!DbgHelp) return nullptr;
  return reinterpret_cast<TMiniDumpWriteDump>(
      reinterpret_cast<void*>(GetProcAddress(DbgHelp, "MiniDumpWriteDump")));
}

}  // namespace

std::filesystem::path CrashFolder() {
  wchar_t Local[MAX_PATH] = L"";
  DWORD Length = GetEnvironmentVariableW(L"LOCALAPPDATA", Local, MAX_PATH);
  if (Length == 0 || Length >= MAX_PATH)
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, Local);
  return std::filesystem::path(Local) / L"Tagrelay" / L"crash";
}

TCrashRecords::TCrashRecords(const std::filesystem::path& Folder) {
  const std::wstring Text = Folder.wstring() + L"\\";
  const std::wstring Parent = Folder.parent_path().wstring();
  if (Text.size() >= MAX_PATH) return;  // no room for a record's name: no records
  PruneCrashRecords(Folder, KeptRecords);
  std::wcscpy(RecordFolder, Text.c_str());
  std::wcscpy(ParentFolder, Parent.c_str());
  WriteDump = LoadDumpWriter();
  WakeWriter = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  RecordDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (WakeWriter && RecordDone) {
    FWriter = CreateThread(nullptr, WriterStackBytes, RunWriter, nullptr,
                           STACK_SIZE_PARAM_IS_A_RESERVATION, &WriterThreadId);
  }
  if (!FWriter && WakeWriter) {
    CloseHandle(WakeWriter);
    WakeWriter = nullptr;
  }
  SetUnhandledExceptionFilter(OnUnhandledException);
  std::set_terminate(OnTerminate);
  std::signal(SIGABRT, OnAbort);
  _set_invalid_parameter_handler(OnInvalidParameter);
}

TCrashRecords::~TCrashRecords() {
  if (!FWriter) return;
  InterlockedExchange(&WriterStopping, 1);
  SetEvent(WakeWriter);
  WaitForSingleObject(FWriter, INFINITE);
  CloseHandle(FWriter);
  // A crash from now on is written on the crashed thread; the events are no longer used.
  CloseHandle(WakeWriter);
  CloseHandle(RecordDone);
}
