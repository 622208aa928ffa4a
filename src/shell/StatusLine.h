// The text of the window's status line: the link's state, the OPC servers found and connected,
// and the live counters as rates per second between two readings.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "Communicate.h"

// The counters at one reading.
struct TCounterReading {
  uint64_t Requests = 0;
  uint64_t Written = 0;
  uint64_t Pushes = 0;
  uint64_t PushedValues = 0;
  uint64_t Reconnects = 0;
  int32_t ServersFound = 0;
  int32_t ServersConnected = 0;

  static TCounterReading Of(const TLinkCounters& Counters);
};

class TStatusLine {
 public:
  // The text for this reading; rates are taken against the previous reading (none at the first).
  std::u16string Update(const TCommunicate::TLinkStatus& Status, const TCounterReading& Reading,
                        std::chrono::steady_clock::time_point Now);

  // "Connected to 10.0.0.5:4000 (TLS) since 12:04:31" and the like; the tray tip uses it too.
  static std::u16string StateText(const TCommunicate::TLinkStatus& Status);
  // The tray icon's tip: "Tagrelay - connected to 10.0.0.5:4000 (TLS)" and the like.
  static std::u16string TrayTip(const TCommunicate::TLinkStatus& Status);

 private:
  bool FHasPrevious = false;
  TCounterReading FPrevious;
  std::chrono::steady_clock::time_point FPreviousTime;
};
