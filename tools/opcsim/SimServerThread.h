// A thread of the simulated server's own, as servers have that run their subscriptions on one. It
// is started by the first Advise of a server with the unloadWaitsForThread fault, and the DLL
// waits for its end before it agrees to be unloaded. A thread's end needs the loader lock, so a
// client that lets COM ask for the unload under that lock (a thread that ends without
// CoUninitialize) deadlocks there, as it does with such servers.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace opcsim {

class SimServerThread {
 public:
  static SimServerThread& Instance();

  SimServerThread() = default;
  ~SimServerThread() { Stop(); }
  SimServerThread(const SimServerThread&) = delete;
  SimServerThread& operator=(const SimServerThread&) = delete;

  // Starts the thread unless it runs.
  void Start();
  // Tells the thread to end and waits until it has.
  void Stop();
  bool Running();

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace opcsim
