#include "UpdateTimer.h"

TUpdateTimer::TUpdateTimer(TCallBack Handle, std::chrono::milliseconds APeriod)
    : Period(APeriod), UpdateHandle(std::move(Handle)), Thread([this] { Execute(); }) {}

TUpdateTimer::~TUpdateTimer() {
  {
    std::lock_guard Guard(Lock);
    StopRequested = true;
  }
  Wake.notify_all();
  Thread.join();
}

void TUpdateTimer::SetUpdateHandleProp(TCallBack Value) {
  std::lock_guard Guard(Lock);
  UpdateHandle = std::move(Value);
}

void TUpdateTimer::Execute() {
  std::unique_lock Guard(Lock);
  while (!StopRequested) {
    TCallBack Handle = UpdateHandle;
    Guard.unlock();
    if (Handle) Handle();
    Guard.lock();
    Wake.wait_for(Guard, Period, [this] { return StopRequested; });
  }
  IsDone = true;
}
