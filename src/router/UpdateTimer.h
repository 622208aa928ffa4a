// A thread that calls one handler periodically: at once when it starts, then after every pause.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "LinkTypes.h"

class TUpdateTimer {
 public:
  static constexpr std::chrono::milliseconds DefaultPeriod{500};

  // The handler is set before the thread starts, so no tick runs without one.
  explicit TUpdateTimer(TCallBack UpdateHandle, std::chrono::milliseconds Period = DefaultPeriod);
  // Stops the thread and waits for it; a pause in progress is cut short, a call in progress ends
  // first. No call happens afterwards.
  ~TUpdateTimer();
  TUpdateTimer(const TUpdateTimer&) = delete;
  TUpdateTimer& operator=(const TUpdateTimer&) = delete;

  void SetUpdateHandleProp(TCallBack Value);
  // True once the thread has left its loop.
  bool IsTerminated() const { return IsDone; }

 private:
  void Execute();

  const std::chrono::milliseconds Period;
  std::mutex Lock;  // guards UpdateHandle and StopRequested
  std::condition_variable Wake;
  TCallBack UpdateHandle;
  bool StopRequested = false;
  std::atomic<bool> IsDone{false};
  std::thread Thread;  // last: starts once everything above is ready
};
