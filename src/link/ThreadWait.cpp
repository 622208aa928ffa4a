#include "ThreadWait.h"

#ifdef _WIN32
#include <windows.h>

#include <system_error>
#else
#include <chrono>
#include <thread>
#endif

#ifdef _WIN32
namespace {

HANDLE NewEvent(bool ManualReset, bool Set) {
  HANDLE Event = CreateEventW(nullptr, ManualReset, Set, nullptr);
  if (!Event) throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
  return Event;
}

// Waits until Object is signalled, handling each sent message as it arrives. Messages already
// waiting are handled before every wait, so none waits for the next arrival.
void WaitHandlePumping(HANDLE Object) {
  for (;;) {
    PumpSentMessages();
    DWORD Result = MsgWaitForMultipleObjects(1, &Object, FALSE, INFINITE, QS_SENDMESSAGE);
    if (Result == WAIT_OBJECT_0) return;
    // A failed wait cannot be waited out; pausing keeps the loop from spinning.
    if (Result == WAIT_FAILED) Sleep(1);
  }
}

}  // namespace
#endif

void PumpSentMessages() {
#ifdef _WIN32
  MSG Msg;
  PeekMessageW(&Msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
#endif
}

void SleepPumping(int Ms) {
#ifdef _WIN32
  const ULONGLONG End = GetTickCount64() + static_cast<ULONGLONG>(Ms);
  for (;;) {
    PumpSentMessages();
    const ULONGLONG Now = GetTickCount64();
    if (Now >= End) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(End - Now), QS_SENDMESSAGE);
  }
#else
  std::this_thread::sleep_for(std::chrono::milliseconds(Ms));
#endif
}

void JoinPumping(std::thread& Thread, TWaitEvent& Finished) {
  if (!Thread.joinable()) return;
  Finished.WaitPumping();
  Thread.join();
}

#ifdef _WIN32

TWaitEvent::TWaitEvent() : Handle(NewEvent(true, false)) {}

TWaitEvent::~TWaitEvent() {
  CloseHandle(Handle);
}

void TWaitEvent::Set() {
  SetEvent(Handle);
}

bool TWaitEvent::WaitFor(int Ms) {
  return WaitForSingleObject(Handle, static_cast<DWORD>(Ms)) == WAIT_OBJECT_0;
}

void TWaitEvent::WaitPumping() {
  WaitHandlePumping(Handle);
}

TPumpingLock::TPumpingLock() : Free(NewEvent(false, true)) {}

TPumpingLock::~TPumpingLock() {
  CloseHandle(Free);
}

void TPumpingLock::lock() {
  WaitForSingleObject(Free, INFINITE);
}

void TPumpingLock::unlock() {
  SetEvent(Free);
}

// The wait that returns takes the auto-reset event, which is taking the lock.
void TPumpingLock::LockPumping() {
  WaitHandlePumping(Free);
}

#else

TWaitEvent::TWaitEvent() = default;
TWaitEvent::~TWaitEvent() = default;

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

void TWaitEvent::WaitPumping() {
  std::unique_lock<std::mutex> Guard(Lock);
  Changed.wait(Guard, [this] { return Signalled; });
}

TPumpingLock::TPumpingLock() = default;
TPumpingLock::~TPumpingLock() = default;

void TPumpingLock::lock() {
  Lock.lock();
}

void TPumpingLock::unlock() {
  Lock.unlock();
}

void TPumpingLock::LockPumping() {
  Lock.lock();
}

#endif
