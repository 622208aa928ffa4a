// The number of server scans running. The router's destruction waits on it until the last scan
// has ended, woken by that scan rather than polling.
#pragma once

#include <condition_variable>
#include <mutex>

class TScanCount {
 public:
  // Counts one scan as running for as long as it lives.
  class TScope {
   public:
    explicit TScope(TScanCount& Count) : Count(Count) { Count.Begin(); }
    ~TScope() { Count.End(); }
    TScope(const TScope&) = delete;
    TScope& operator=(const TScope&) = delete;

   private:
    TScanCount& Count;
  };

  bool Any() const {
    std::lock_guard Guard(Lock);
    return Running > 0;
  }

  void WaitUntilNone() {
    std::unique_lock Guard(Lock);
    NoneRunning.wait(Guard, [this] { return Running == 0; });
  }

 private:
  void Begin() {
    std::lock_guard Guard(Lock);
    ++Running;
  }
  // Notifies under the lock: the waiter may destroy this object as soon as it can take the lock.
  void End() {
    std::lock_guard Guard(Lock);
    if (--Running == 0) NoneRunning.notify_all();
  }

  mutable std::mutex Lock;
  int Running = 0;
  std::condition_variable NoneRunning;
};
