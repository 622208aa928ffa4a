// Waiting for the link's threads and locks without blocking the window thread's sent messages.
//
// Threads that log send their entry synchronously to the window thread. When the window thread
// itself waits for such a thread (closing, Apply), a plain join or lock could wait for a thread
// that waits for the window: these waits handle every sent message as soon as it arrives, and
// otherwise sleep until what they wait for is ready (Windows). Natively nothing is sent between
// threads, so they are plain waits.
#pragma once

#include <thread>

#ifndef _WIN32
#include <condition_variable>
#include <mutex>
#endif

// Handles the messages other threads have sent to the calling thread (Windows); nothing natively.
void PumpSentMessages();

// Pauses the calling thread for Ms milliseconds, handling sent messages meanwhile, so that the
// window thread's pause holds up no thread that logs.
void SleepPumping(int Ms);

// A manual-reset event: once set, every wait returns at once.
class TWaitEvent {
 public:
  TWaitEvent();
  ~TWaitEvent();
  TWaitEvent(const TWaitEvent&) = delete;
  TWaitEvent& operator=(const TWaitEvent&) = delete;

  void Set();
  // Waits at most Ms milliseconds; true when the event is set.
  bool WaitFor(int Ms);
  // Waits until the event is set, handling sent messages meanwhile.
  void WaitPumping();

 private:
#ifdef _WIN32
  void* Handle;
#else
  std::mutex Lock;
  std::condition_variable Changed;
  bool Signalled = false;
#endif
};

// Waits until Finished is set (the thread's last step), handling sent messages meanwhile, then
// joins the thread.
void JoinPumping(std::thread& Thread, TWaitEvent& Finished);

// A lock that a thread handling sent messages can wait for (BasicLockable).
class TPumpingLock {
 public:
  TPumpingLock();
  ~TPumpingLock();
  TPumpingLock(const TPumpingLock&) = delete;
  TPumpingLock& operator=(const TPumpingLock&) = delete;

  void lock();
  void unlock();
  // Takes the lock, handling sent messages while another thread holds it.
  void LockPumping();

 private:
#ifdef _WIN32
  void* Free;  // an auto-reset event, set while nobody holds the lock
#else
  std::mutex Lock;
#endif
};
