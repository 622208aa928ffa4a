// The periodic update thread: first call without a wait, handler always set, prompt stop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "UpdateTimer.h"

namespace {

using namespace std::chrono_literals;

// Counts calls and lets the test wait for a given count.
class TCallCounter {
 public:
  void Call() {
    std::lock_guard Guard(Lock);
    ++Count;
    Changed.notify_all();
  }
  bool WaitFor(int Wanted) {
    std::unique_lock Guard(Lock);
    return Changed.wait_for(Guard, 30s, [&] { return Count >= Wanted; });
  }
  int Calls() {
    std::lock_guard Guard(Lock);
    return Count;
  }

 private:
  std::mutex Lock;
  std::condition_variable Changed;
  int Count = 0;
};

TEST(UpdateTimerTest, CallsAtOnceAndStopsWithoutWaitingOutThePause) {
  TCallCounter Counter;
  auto Timer = std::make_unique<TUpdateTimer>([&] { Counter.Call(); }, 1h);
  // With an hour between calls, a first call can only come from the start without a wait.
  ASSERT_TRUE(Counter.WaitFor(1));
  EXPECT_FALSE(Timer->IsTerminated());
  Timer.reset();  // would hang for an hour if the pause were not cut short
  EXPECT_EQ(Counter.Calls(), 1);
}

TEST(UpdateTimerTest, KeepsCallingWithTheHandlerInForceAndNotAfterDestruction) {
  TCallCounter First, Second;
  auto Timer = std::make_unique<TUpdateTimer>([&] { First.Call(); }, 1ms);
  ASSERT_TRUE(First.WaitFor(3));
  Timer->SetUpdateHandleProp([&] { Second.Call(); });
  ASSERT_TRUE(Second.WaitFor(3));
  Timer.reset();
  const int After = Second.Calls();
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(Second.Calls(), After);
}

TEST(UpdateTimerTest, DestructionWaitsForTheCallInProgress) {
  std::atomic<bool> InCall{false}, Finished{false};
  auto Timer = std::make_unique<TUpdateTimer>(
      [&] {
        InCall = true;
        std::this_thread::sleep_for(100ms);
        Finished = true;
      },
      1h);
  while (!InCall) std::this_thread::yield();
  Timer.reset();
  EXPECT_TRUE(Finished);
}

}  // namespace
