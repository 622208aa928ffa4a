// Native build only: the timers a thread's message loop dispatches on Windows
// (SetTimer and WM_TIMER), reduced to what an apartment-threaded in-process
// server needs. A timer belongs to the thread that set it and runs only on that
// thread, when the thread dispatches its due timers, just as WM_TIMER runs only
// when the thread pumps messages.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace tagrelay::com {

using TimerProc = std::function<void()>;

// Starts a periodic timer on the calling thread; returns its id (never 0).
uint32_t SetThreadTimer(uint32_t periodMs, TimerProc proc);

// Stops a timer of the calling thread; unknown ids are ignored. Safe inside a
// timer procedure.
void KillThreadTimer(uint32_t id);

// Runs every timer of the calling thread that is due, each at most once, and
// re-arms it one period later. Returns how many ran. The native counterpart of
// a PeekMessage/DispatchMessage loop.
size_t DispatchDueTimers();

// When the calling thread's next timer is due, if it has any: a pumping wait
// can wait until then.
std::optional<std::chrono::steady_clock::time_point> NextTimerDue();

// Number of timers the calling thread has.
size_t ThreadTimerCount();

}  // namespace tagrelay::com
