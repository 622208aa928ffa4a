#include "SimServerThread.h"

namespace opcsim {

SimServerThread& SimServerThread::Instance() {
  static SimServerThread instance;
  return instance;
}

void SimServerThread::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
}

void SimServerThread::Stop() {
  std::thread ending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable()) return;
    stopping_ = true;
    ending = std::move(thread_);
  }
  wake_.notify_all();
  ending.join();
}

bool SimServerThread::Running() {
  std::lock_guard<std::mutex> lock(mutex_);
  return thread_.joinable();
}

void SimServerThread::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [this] { return stopping_; });
}

}  // namespace opcsim
