// A periodic timer that runs on the thread that started it, and only while that
// thread pumps its messages: what an apartment-threaded server uses to call its
// clients back on their own thread. On Windows it is a WM_TIMER of a
// message-only window of that thread; natively the COM stand-in's per-thread
// timers.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

namespace opcsim {

class SimTimer {
 public:
  SimTimer() = default;
  ~SimTimer() { Stop(); }
  SimTimer(const SimTimer&) = delete;
  SimTimer& operator=(const SimTimer&) = delete;

  // Starts, or restarts with a new period, on the calling thread. False if it
  // cannot.
  bool Start(uint32_t periodMs, std::function<void()> proc);
  void Stop();
  bool Running() const { return id_ != 0; }

 private:
  uintptr_t id_ = 0;
  std::thread::id owner_;
};

// Windows: releases the window class when the DLL is unloaded (see DllMain).
void ReleaseTimerWindowClass();

}  // namespace opcsim
