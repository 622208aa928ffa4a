// Crash records. An exception that nothing handles (an access violation inside an in-process OPC
// server, a stack overflow, say), std::terminate, abort and the C runtime's invalid-parameter
// handler end the program through one writer that first leaves a record in the crash folder:
// a minidump and a one-line text file, both named after the crash (crash-YYYYMMDD-HHMMSS-PID),
// and a marker naming the record that no start has reported yet. The next start takes the marker
// and makes the record the log's first entry. The newest KeptRecords records are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// What the one-line record says about a crash.
struct TCrashFacts {
  uint16_t Year, Month, Day, Hour, Minute, Second;
  uint32_t Code;       // the exception code
  const char* Module;  // the base name of the module the exception happened in, or "?"
  uint64_t Offset;     // the exception address relative to that module
};

// "2026-12-10 17:15:02 exception C0000005 at opcsim.dll+0x1A2B" into Out (always terminated).
// Formats into the caller's buffer: it runs inside a crashed process.
void FormatCrashLine(const TCrashFacts& Facts, char* Out, std::size_t Size);

// The name of the marker file, in the crash folder, that holds the name of an unreported record.
inline constexpr const char* UnreportedMarker = "unreported.txt";

// How many records the crash folder keeps; older ones are removed at start.
inline constexpr std::size_t KeptRecords = 10;

// The codes recorded for ends that are no exception of the system's.
inline constexpr uint32_t CrashCodeTerminate = 0xE0000001;         // std::terminate
inline constexpr uint32_t CrashCodeAbort = 0x40000015;             // abort (STATUS_FATAL_APP_EXIT)
inline constexpr uint32_t CrashCodeInvalidParameter = 0xC0000417;  // the C runtime's check

// At start: removes all but the newest Keep records (their ".txt" and ".dmp" files, by the time in
// their names) from Folder. Never called while crashing.
void PruneCrashRecords(const std::filesystem::path& Folder, std::size_t Keep);

// At start: the log entry naming the record of the last crash, if no start has named it yet
// ("" otherwise). Removes the marker, so the record is named once.
std::u16string TakeCrashNotice(const std::filesystem::path& Folder);

#ifdef _WIN32
// %LOCALAPPDATA%\Tagrelay\crash, the window program's records.
std::filesystem::path CrashFolder();

// Made first thing at start and kept until the end: prunes the folder's old records, loads the
// minidump writer from the system folder, starts the thread that writes a record, and installs
// the filter and the handlers for the whole process. A crashed thread only wakes the writer and
// waits for it (bounded), so a thread without stack left, or one holding the loader lock, still
// leaves a record. The object's end stops the writer thread; a crash after that is recorded on
// the crashed thread itself.
class TCrashRecords {
 public:
  explicit TCrashRecords(const std::filesystem::path& Folder);
  ~TCrashRecords();
  TCrashRecords(const TCrashRecords&) = delete;
  TCrashRecords& operator=(const TCrashRecords&) = delete;

 private:
  void* FWriter = nullptr;  // the writer thread's handle
};
#endif
