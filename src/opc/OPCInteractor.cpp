#include "OPCInteractor.h"

#include <utility>

TOPCInteractor::TOPCInteractor(const std::u16string& Name, const std::u16string& Guid)
    : Worker(std::make_shared<TOPCWorker>(Name, Guid)) {
  std::promise<void> Done;
  Ended = Done.get_future();
  // The thread owns a share of the worker, so a thread left behind never uses freed memory.
  Thread = std::thread([Shared = Worker, Done = std::move(Done)]() mutable {
    Shared->Execute();
    Done.set_value();
  });
}

TOPCInteractor::~TOPCInteractor() {
  Stop(std::chrono::steady_clock::now() + StopWait);
}

bool TOPCInteractor::Stop(std::chrono::steady_clock::time_point Deadline) {
  if (!Thread.joinable()) return true;
  Worker->Terminate();
  if (Ended.wait_until(Deadline) == std::future_status::ready) {
    Thread.join();
    return true;
  }
  Worker->Abandon();
  Thread.detach();
  return false;
}
