// The optional file copy of the log: every entry's lines, each with a time stamp, appended by a
// writer thread of its own so that no sender waits for the disk. The file is rotated into one
// ".1" file once it would grow past its bound. What is queued when the object goes is written
// first. The file never grows past its bound: when it cannot be renamed (another program holds
// it or its ".1" open) it is started anew, and when it cannot be opened at all the entries are
// dropped for a pause before the next try. Each kind of failure (open, rotation, write) is
// reported once (TakeFailure).
#pragma once

#include <chrono>
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

  // After a failed open, entries are dropped for this long before the file is tried again.
  static constexpr std::chrono::milliseconds RetryPause{5000};

  const std::filesystem::path& Path() const { return FPath; }

 private:
  struct TCloser {
    void operator()(std::FILE* F) const { std::fclose(F); }
  };

  enum TFailure : unsigned { OpenFailed = 1, RotateFailed = 2, WriteFailed = 4 };

  void Run();
  void Write(const std::string& Text);
  bool Open(const char* Mode);
  void Rotate();
  void Flush();
  void Fail(TFailure Kind);

  const std::filesystem::path FPath;
  const uint64_t FMaxBytes;
  // Writer thread only.
  std::unique_ptr<std::FILE, TCloser> FFile;
  uint64_t FSize = 0;
  std::chrono::steady_clock::time_point FRetryAt{};
  std::size_t FLost = 0;  // entries dropped while the file could not be opened

  std::mutex FLock;
  std::condition_variable FWake;
  std::vector<std::string> FQueue;
  std::size_t FDropped = 0;
  bool FStopping = false;
  unsigned FFailures = 0;  // kinds of failure seen
  unsigned FReported = 0;  // kinds already handed to TakeFailure

  std::thread FWriter;  // last: starts once everything above exists
};
