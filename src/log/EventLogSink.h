// The log's sink for the Windows Event Log: errors, and the service's start and stop, as events
// of the source "Tagrelay". An error repeated word for word (a link that keeps failing every few
// seconds) is reported once; the next different one says how many repeats were left out, so the
// Event Log is not flooded.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "LogSink.h"

inline constexpr char16_t EventSourceName[] = u"Tagrelay";

enum class TEventKind { Information, Warning, Error };

// Writes one event; the system's Event Log on Windows, a stand-in in tests.
class TEventLogWriter {
 public:
  virtual ~TEventLogWriter() = default;
  virtual void Report(TEventKind Kind, const std::u16string& Text) = 0;
};

class TEventLogSink : public TLogSink {
 public:
  explicit TEventLogSink(TEventLogWriter& Writer) : FWriter(Writer) {}

  // Errors only; other entries stay in the file log.
  void Write(int32_t Cmd, const std::vector<std::u16string>& Lines) override;
  // An information event (the service started or stopped).
  void Note(const std::u16string& Text);

 private:
  TEventLogWriter& FWriter;
  std::mutex FLock;  // a leaf lock: the writer is called under it
  std::u16string FLastError;
  std::size_t FRepeats = 0;
};

// The entry's text without the error frame and blank lines, its lines joined by CR LF.
std::u16string EventText(const std::vector<std::u16string>& Lines);

#ifdef _WIN32
// The system's Event Log, under the source EventSourceName. Failures are ignored: the event log
// is a copy of what the file log holds.
class TSystemEventLog : public TEventLogWriter {
 public:
  TSystemEventLog();
  ~TSystemEventLog() override;
  TSystemEventLog(const TSystemEventLog&) = delete;
  TSystemEventLog& operator=(const TSystemEventLog&) = delete;
  void Report(TEventKind Kind, const std::u16string& Text) override;

 private:
  void* FSource;  // the HANDLE of RegisterEventSourceW, or null
};
#endif
