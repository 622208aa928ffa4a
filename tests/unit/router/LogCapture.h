// A log without a window, switched on, for comparing what a test made the router log.
#pragma once

#include <string>
#include <vector>

#include "LogModel.h"
#include "Logger.h"

struct TLogEntry {
  int32_t Cmd;
  std::u16string Text;
  int32_t TransID;
};

class TLogCapture {
 public:
  TLogCapture() { Log.SetLogEnabled(true); }
  TLogger* Logger() { return &Log; }
  std::vector<std::u16string> Lines() const { return Log.Lines(); }
  void Clear() { Log.Clear(); }

  // The log lines that these entries make.
  static std::vector<std::u16string> LinesOf(const std::vector<TLogEntry>& Entries) {
    std::vector<std::u16string> Lines;
    for (const auto& E : Entries)
      for (auto& Line : LogEntryLines(E.Cmd, LogEntryText(E.Text, E.TransID)))
        Lines.push_back(std::move(Line));
    return Lines;
  }

 private:
  TLogger Log;
};
