// Native only: per-thread timers, the stand-in for WM_TIMER of an apartment's
// message loop.
#include <thread>

#include <gtest/gtest.h>

#include "ComApi.h"

using namespace tagrelay::com;

namespace {

TEST(ThreadTimers, RunOnlyOnTheirThreadWhenItDispatches) {
  int ticks = 0;
  const uint32_t id = SetThreadTimer(0, [&] { ++ticks; });
  EXPECT_NE(id, 0u);
  EXPECT_EQ(ticks, 0) << "nothing runs before the thread dispatches";

  size_t otherThreadRan = 99;
  std::thread other([&] { otherThreadRan = DispatchDueTimers(); });
  other.join();
  EXPECT_EQ(otherThreadRan, 0u);
  EXPECT_EQ(ticks, 0);

  EXPECT_EQ(DispatchDueTimers(), 1u);
  EXPECT_EQ(ticks, 1);
  KillThreadTimer(id);
  EXPECT_EQ(DispatchDueTimers(), 0u);
  EXPECT_EQ(ThreadTimerCount(), 0u);
}

TEST(ThreadTimers, WaitForTheirPeriodAndMayKillTimersWhileRunning) {
  int slow = 0, killer = 0;
  const uint32_t slowId = SetThreadTimer(60000, [&] { ++slow; });
  uint32_t killerId = 0;
  killerId = SetThreadTimer(0, [&] {
    ++killer;
    KillThreadTimer(killerId);
    KillThreadTimer(slowId);
  });
  ASSERT_TRUE(NextTimerDue().has_value());
  EXPECT_LE(*NextTimerDue(), std::chrono::steady_clock::now());
  EXPECT_EQ(DispatchDueTimers(), 1u);
  EXPECT_EQ(killer, 1);
  EXPECT_EQ(slow, 0);
  EXPECT_FALSE(NextTimerDue().has_value());
}

}  // namespace
