// Wakes an OPC worker when a task arrives. The worker's wait also delivers the window messages of
// its thread, so a single-threaded apartment receives its servers' callbacks while idle.
#pragma once

#include <chrono>
#include <memory>

class TWorkSignal {
 public:
  TWorkSignal();
  ~TWorkSignal();
  TWorkSignal(const TWorkSignal&) = delete;
  TWorkSignal& operator=(const TWorkSignal&) = delete;

  // Any thread: wake the waiter, or make its next Wait return at once.
  void Notify();
  // Waiting thread: block until notified, pumping the thread's messages meanwhile.
  void Wait();
  // The same, at most until Until; false when the time ran out first.
  bool WaitUntil(std::chrono::steady_clock::time_point Until);
  // Waiting thread: deliver the messages already waiting, without blocking.
  static void Pump();

 private:
  bool Await(const std::chrono::steady_clock::time_point* Until);

  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};
