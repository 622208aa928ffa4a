// Where the log's entries go besides the log view: the file log, the Windows Event Log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TLogSink {
 public:
  virtual ~TLogSink() = default;
  // Any thread: one entry of kind Cmd (LogDone, LogInfo, LogError) as the lines it adds to the
  // log. Must not block for long: the thread that logs waits for it.
  virtual void Write(int32_t Cmd, const std::vector<std::u16string>& Lines) = 0;
};
