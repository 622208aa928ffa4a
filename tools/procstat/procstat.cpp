// Prints the Windows-side resource figures of every running process with a given image name, one
// line each: process id, open handles (two ways), working set, peak working set, private bytes,
// and user and kernel CPU time. The system tests and the measurement driver use it to watch
// tagrelay.exe from outside, since its handles exist only in the Windows view of the process.
//
//   procstat.exe tagrelay.exe
//   pid=52 handles=0 handleEntries=211 workingSet=20480000 peakWorkingSet=21000000
//       privateBytes=0 userMs=120 kernelMs=40
//
// handles is GetProcessHandleCount; handleEntries counts the process's entries in the system
// handle table (NtQuerySystemInformation, extended handle information). Wine 8 answers the
// first with 0 and the private bytes with 0; it fills the handle table from its server.
//
// Exit status 0 when at least one process was reported, 1 when none matched, 2 on a usage error.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

// Closes a kernel handle when it goes out of scope.
class THandle {
 public:
  explicit THandle(HANDLE Handle) : Handle(Handle) {}
  ~THandle() {
    if (Valid()) CloseHandle(Handle);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  bool Valid() const { return Handle != nullptr && Handle != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return Handle; }

 private:
  HANDLE Handle;
};

std::vector<DWORD> ProcessIds(const wchar_t* ImageName) {
  std::vector<DWORD> Ids;
  THandle Snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!Snapshot.Valid()) return Ids;
  PROCESSENTRY32W Entry{};
  Entry.dwSize = sizeof Entry;
  for (BOOL More = Process32FirstW(Snapshot.Get(), &Entry); More;
       More = Process32NextW(Snapshot.Get(), &Entry))
    if (_wcsicmp(Entry.szExeFile, ImageName) == 0) Ids.push_back(Entry.th32ProcessID);
  return Ids;
}

// The layout of the system's extended handle table (information class 64).
struct THandleEntry {
  PVOID Object;
  ULONG_PTR UniqueProcessId;
  ULONG_PTR HandleValue;
  ULONG GrantedAccess;
  USHORT CreatorBackTraceIndex;
  USHORT ObjectTypeIndex;
  ULONG HandleAttributes;
  ULONG Reserved;
};

struct THandleTable {
  ULONG_PTR NumberOfHandles;
  ULONG_PTR Reserved;
  THandleEntry Handles[1];
};

constexpr ULONG SystemExtendedHandleInformationClass = 64;
constexpr NTSTATUS StatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

// The entries of the system handle table that belong to process Id; -1 when the table cannot be
// read.
long long HandleEntries(DWORD Id) {
  std::vector<unsigned char> Buffer(1 << 20);
  for (int Attempt = 0; Attempt < 8; ++Attempt) {
    ULONG Needed = 0;
    const NTSTATUS Status = NtQuerySystemInformation(
        static_cast<SYSTEM_INFORMATION_CLASS>(SystemExtendedHandleInformationClass), Buffer.data(),
        static_cast<ULONG>(Buffer.size()), &Needed);
    if (Status == StatusInfoLengthMismatch) {
      Buffer.resize(std::max<size_t>(Buffer.size() * 2, Needed + 65536));
      continue;
    }
    if (Status < 0) return -1;
    const auto* Table = reinterpret_cast<const THandleTable*>(Buffer.data());
    long long Count = 0;
    for (ULONG_PTR i = 0; i < Table->NumberOfHandles; ++i)
      if (Table->Handles[i].UniqueProcessId == Id) ++Count;
    return Count;
  }
  return -1;
}

unsigned long long Milliseconds(const FILETIME& Time) {
  ULARGE_INTEGER Value;
  Value.LowPart = Time.dwLowDateTime;
  Value.HighPart = Time.dwHighDateTime;
  return Value.QuadPart / 10000;
}

bool Report(DWORD Id) {
  THandle Process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, Id));
  if (!Process.Valid()) return false;
  DWORD Handles = 0;
  PROCESS_MEMORY_COUNTERS_EX Memory{};
  Memory.cb = sizeof Memory;
  FILETIME Created, Exited, Kernel{}, User{};
  if (!GetProcessHandleCount(Process.Get(), &Handles)) return false;
  if (!GetProcessMemoryInfo(Process.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&Memory),
                            sizeof Memory))
    return false;
  GetProcessTimes(Process.Get(), &Created, &Exited, &Kernel, &User);
  std::printf(
      "pid=%lu handles=%lu handleEntries=%lld workingSet=%llu peakWorkingSet=%llu "
      "privateBytes=%llu userMs=%llu kernelMs=%llu\n",
      static_cast<unsigned long>(Id), static_cast<unsigned long>(Handles), HandleEntries(Id),
      static_cast<unsigned long long>(Memory.WorkingSetSize),
      static_cast<unsigned long long>(Memory.PeakWorkingSetSize),
      static_cast<unsigned long long>(Memory.PrivateUsage), Milliseconds(User),
      Milliseconds(Kernel));
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: procstat.exe <image name>\n", stderr);
    return 2;
  }
  bool Any = false;
  for (DWORD Id : ProcessIds(argv[1])) Any = Report(Id) || Any;
  std::fflush(stdout);
  return Any ? 0 : 1;
}
