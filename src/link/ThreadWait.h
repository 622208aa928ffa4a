// Waiting for the link's threads and locks without blocking the window thread's sent messages.
//
// Threads that log send their entry synchronously to the window thread. When the window thread
// itself waits for such a thread (closing, Apply), a plain join or lock could wait for a thread
// that waits for the window: these helpers keep handling sent messages while they wait.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Handles the messages other threads have sent to the calling thread (Windows); nothing natively.
void PumpSentMessages();

// Waits until Finished is set, handling sent messages meanwhile, then joins the thread.
void JoinPumping(std::thread& Thread, const std::atomic<bool>& Finished);

// Takes the lock, handling sent messages while another thread holds it.
void LockPumping(std::mutex& Lock);

// A manual-reset event: once set, every wait returns at once.
class TWaitEvent {
 public:
  void Set();
  // Waits at most Ms milliseconds; true when the event is set.
  bool WaitFor(int Ms);

 private:
  std::mutex Lock;
  std::condition_variable Changed;
  bool Signalled = false;
};
