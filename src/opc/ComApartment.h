// The single-threaded COM apartment a server connection enters on its worker's thread. Every
// entry that succeeded is left again when the connection is destroyed, on the thread that entered
// it, once the connection's COM objects are gone: a thread that ended inside its apartment would
// have COM tear it down during the thread's detach, under the loader lock, where an in-process
// server's last release and DllCanUnloadNow must not run.
#pragma once

#include <thread>

class TComApartment {
 public:
  TComApartment() = default;
  ~TComApartment();
  TComApartment(const TComApartment&) = delete;
  TComApartment& operator=(const TComApartment&) = delete;

  // Enters (again) on the calling thread; the result is not looked at beyond counting.
  void Enter();
  // Entries that succeeded and are not left yet.
  int GetEntries() const { return Entries; }

 private:
  std::thread::id Thread;
  int Entries = 0;
};
