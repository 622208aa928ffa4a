// Crash records. An exception that nothing handles (an access violation inside an in-process OPC
// server, say) ends the program through a filter that first leaves a record in the crash folder:
// a minidump and a one-line text file, both named after the crash (crash-YYYYMMDD-HHMMSS-PID),
// and a marker naming the record that no start has reported yet. The next start takes the marker
// and makes the record the log's first entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// What the one-line record says about a crash.
struct TCrashFacts {
  uint16_t Year, Month, Day, Hour, Minute, Second;
  uint32_t Code;           // the exception code
  const char* Module;      // the base name of the module the exception happened in, or "?"
  uint64_t Offset;         // the exception address relative to that module
};

// "2026-12-10 17:15:02 exception C0000005 at opcsim.dll+0x1A2B" into Out (always terminated).
// Formats into the caller's buffer: it runs inside a crashed process.
void FormatCrashLine(const TCrashFacts& Facts, char* Out, std::size_t Size);

// The name of the marker file, in the crash folder, that holds the name of an unreported record.
inline constexpr const char* UnreportedMarker = "unreported.txt";

// At start: the log entry naming the record of the last crash, if no start has named it yet
// ("" otherwise). Removes the marker, so the record is named once.
std::u16string TakeCrashNotice(const std::filesystem::path& Folder);

#ifdef _WIN32
// %LOCALAPPDATA%\Tagrelay\crash, the window program's records.
std::filesystem::path CrashFolder();

// Installs the filter for the whole process, with its records in Folder; called first thing at
// start.
void InstallCrashRecords(const std::filesystem::path& Folder);
#endif
