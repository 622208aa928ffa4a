#include "WorkSignal.h"

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <system_error>

struct TWorkSignal::TImpl {
  HANDLE Event = nullptr;
};

TWorkSignal::TWorkSignal() : Impl(std::make_unique<TImpl>()) {
  Impl->Event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (Impl->Event == nullptr)
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "CreateEvent");
}

TWorkSignal::~TWorkSignal() {
  CloseHandle(Impl->Event);
}

void TWorkSignal::Notify() {
  SetEvent(Impl->Event);
}

void TWorkSignal::Pump() {
  MSG Msg;
  while (PeekMessageW(&Msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&Msg);
    DispatchMessageW(&Msg);
  }
}

bool TWorkSignal::Await(const std::chrono::steady_clock::time_point* Until) {
  for (;;) {
    DWORD Timeout = INFINITE;
    if (Until != nullptr) {
      const auto Left =
          std::chrono::ceil<std::chrono::milliseconds>(*Until - std::chrono::steady_clock::now());
      if (Left.count() <= 0) return false;
      Timeout = static_cast<DWORD>(std::min<long long>(Left.count(), INFINITE - 1));
    }
    DWORD R =
        MsgWaitForMultipleObjectsEx(1, &Impl->Event, Timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (R == WAIT_OBJECT_0 + 1) {
      Pump();
      continue;
    }
    if (R == WAIT_TIMEOUT) continue;  // the time left is looked at again
    return true;  // the event (auto-reset) or a failed wait: let the caller look at its queue
  }
}

#else
#include <condition_variable>
#include <mutex>

#include "ComApi.h"

struct TWorkSignal::TImpl {
  std::mutex Lock;
  std::condition_variable Cond;
  bool Pending = false;
};

TWorkSignal::TWorkSignal() : Impl(std::make_unique<TImpl>()) {}
TWorkSignal::~TWorkSignal() = default;

void TWorkSignal::Notify() {
  {
    std::lock_guard<std::mutex> Guard(Impl->Lock);
    Impl->Pending = true;
  }
  Impl->Cond.notify_one();
}

void TWorkSignal::Pump() {
  tagrelay::com::DispatchDueTimers();
}

// The thread's due timers stand in for its window messages: they run while the thread waits.
bool TWorkSignal::Await(const std::chrono::steady_clock::time_point* Until) {
  for (;;) {
    tagrelay::com::DispatchDueTimers();
    std::unique_lock<std::mutex> Guard(Impl->Lock);
    auto Notified = [this] { return Impl->Pending; };
    auto WakeAt = tagrelay::com::NextTimerDue();
    if (Until != nullptr && (!WakeAt || *Until < *WakeAt)) WakeAt = *Until;
    if (WakeAt) {
      Impl->Cond.wait_until(Guard, *WakeAt, Notified);
    } else {
      Impl->Cond.wait(Guard, Notified);
    }
    if (Impl->Pending) {
      Impl->Pending = false;
      return true;
    }
    if (Until != nullptr && std::chrono::steady_clock::now() >= *Until) return false;
  }
}
#endif

void TWorkSignal::Wait() {
  Await(nullptr);
}

bool TWorkSignal::WaitUntil(std::chrono::steady_clock::time_point Until) {
  return Await(&Until);
}
