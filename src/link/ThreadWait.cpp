#include "ThreadWait.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {
constexpr auto PollInterval = std::chrono::milliseconds(2);
}

void PumpSentMessages() {
#ifdef _WIN32
  MSG Msg;
  PeekMessageW(&Msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
#endif
}

void JoinPumping(std::thread& Thread, const std::atomic<bool>& Finished) {
  if (!Thread.joinable()) return;
#ifdef _WIN32
  while (!Finished.load()) {
    PumpSentMessages();
    std::this_thread::sleep_for(PollInterval);
  }
#else
  (void)Finished;
#endif
  Thread.join();
}

void LockPumping(std::mutex& Lock) {
  while (!Lock.try_lock()) {
    PumpSentMessages();
    std::this_thread::sleep_for(PollInterval);
  }
}

void TWaitEvent::Set() {
  {
    std::lock_guard<std::mutex> Guard(Lock);
    Signalled = true;
  }
  Changed.notify_all();
}

bool TWaitEvent::WaitFor(int Ms) {
  std::unique_lock<std::mutex> Guard(Lock);
  return Changed.wait_for(Guard, std::chrono::milliseconds(Ms), [this] { return Signalled; });
}
