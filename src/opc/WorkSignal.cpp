#include "WorkSignal.h"

#ifdef _WIN32
#include <windows.h>

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

void TWorkSignal::Wait() {
  for (;;) {
    DWORD R =
        MsgWaitForMultipleObjectsEx(1, &Impl->Event, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (R == WAIT_OBJECT_0 + 1) {
      Pump();
      continue;
    }
    return;  // the event (auto-reset) or a failed wait: let the caller look at its queue
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
void TWorkSignal::Wait() {
  for (;;) {
    tagrelay::com::DispatchDueTimers();
    std::unique_lock<std::mutex> Guard(Impl->Lock);
    auto Notified = [this] { return Impl->Pending; };
    if (auto Due = tagrelay::com::NextTimerDue()) {
      Impl->Cond.wait_until(Guard, *Due, Notified);
    } else {
      Impl->Cond.wait(Guard, Notified);
    }
    if (Impl->Pending) {
      Impl->Pending = false;
      return;
    }
  }
}
#endif
