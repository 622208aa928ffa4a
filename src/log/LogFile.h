// The optional file copy of the log: every entry's lines, each with a time stamp, appended by a
// writer thread of its own so that no sender waits for the disk. The file is rotated into one
// ".1" file once it would grow past its bound. What is queued when the object goes is written
// first. A file that cannot be opened is reported once (TakeFailure) and the entries are dropped.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "LogSink.h"

class TLogFile : public TLogSink {
 public:
  static constexpr uint64_t DefaultMaxKB = 10240;
  // Entries queued beyond this are dropped (and counted in the file) rather than held in memory.
  static constexpr std::size_t MaxQueued = 100000;

  TLogFile(std::filesystem::path Path, uint64_t MaxBytes);
  ~TLogFile() override;
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  // Any thread: queues the lines of one entry, stamped with the current local time.
  void Append(const std::vector<std::u16string>& Lines);
  void Write(int32_t, const std::vector<std::u16string>& Lines) override { Append(Lines); }
  // The text reporting that the file cannot be written, the first time it is asked after the
  // failure; nothing otherwise.
  std::optional<std::u16string> TakeFailure();

  const std::filesystem::path& Path() const { return FPath; }

 private:
  struct TCloser {
    void operator()(std::FILE* F) const { std::fclose(F); }
  };

  void Run();
  void Write(const std::string& Text);
  bool Open(const char* Mode);
  void Rotate();

  const std::filesystem::path FPath;
  const uint64_t FMaxBytes;
  std::unique_ptr<std::FILE, TCloser> FFile;  // writer thread only
  uint64_t FSize = 0;                         // writer thread only

  std::mutex FLock;
  std::condition_variable FWake;
  std::vector<std::string> FQueue;
  std::size_t FDropped = 0;
  bool FStopping = false;
  bool FFailed = false;
  bool FFailureTaken = false;

  std::thread FWriter;  // last: starts once everything above exists
};
