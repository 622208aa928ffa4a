#include "OPCInteractor.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "OPCTestSupport.h"

namespace {

const std::u16string Unregistered = u"{0BADC0DE-0000-4000-8000-000000000001}";

// Results a worker gives without any server object behind it, each from the situation that
// causes it.
TEST(OPCInteractor, AnswersWithoutServer) {
  struct TCase {
    std::u16string Guid;
    TElement Task;
    std::string Expected;
  };
  const std::string U = Narrow(Unregistered);
  const TCase Cases[] = {
      {u"{}", MakeTask(3, 11, {}, u"sync", 500), "connectError mode=3 code=-4 trans=11 {}"},
      {u"x", MakeTask(3, 12, {}, u"sync", 500), "connectError mode=3 code=-4 trans=12 x"},
      {Unregistered, MakeTask(3, 13, {}, u"sync", 500),
       "connectError mode=3 code=-5 trans=13 " + U},
      {Unregistered, MakeTask(4, 14), "connectError mode=4 code=-6 trans=14 " + U},
      {Unregistered, MakeTask(5, 15, {u"h1"}), "valuesError " + U + " trans=15 code=-7 names=h1"},
      {Unregistered, MakeTask(7, 16, {u"h1", u"5"}), "setError " + U + " trans=16 h1 code=-13"},
      {Unregistered, MakeTask(7, 17, {u"h1"}), "setError " + U + " trans=17 h1 code=-13"},
      {Unregistered, MakeTask(8, 18), "disconnect " + U + " trans=18"},
      {Unregistered, MakeTask(9, 19), "ping " + U + " trans=19 state=6"},
  };
  for (const auto& Case : Cases) {
    TCriticalSection Lock;
    TRecorder Rec(&Lock);
    TOPCInteractor Worker(u"Vendor.Name", Case.Guid);
    Rec.Wire(Worker);
    Worker.AddTask(MakeTask(42, 1));  // unknown code: consumed, no answer
    Worker.AddTask(MakeTask(6, 0));   // update without a server object: nothing
    Worker.AddTask(Case.Task);
    ASSERT_TRUE(Rec.WaitFor(1));
    EXPECT_EQ(Rec.Get(), std::vector<std::string>{Case.Expected});
    EXPECT_FALSE(Worker.IsOPCInit());
  }
}

// The owner's lock blocks the worker's answer; meanwhile the queue fills up to its limit.
TEST(OPCInteractor, QueueLimitAndUpdateCoalescing) {
  TCriticalSection Lock;
  TRecorder Rec(&Lock);
  TOPCInteractor Worker(u"N", Unregistered);
  Rec.Wire(Worker);
  {
    std::lock_guard<TCriticalSection> Owner(Lock);
    Worker.AddTask(MakeTask(9, 1));
    ASSERT_TRUE(WaitForTaskCount(Worker, 0));  // the worker took it and waits for the lock

    Worker.AddTask(MakeTask(6, 0));
    Worker.AddTask(MakeTask(6, 0));  // dropped: an update task already waits at the tail
    EXPECT_EQ(Worker.GetTaskCount(), 1);
    Worker.AddTask(MakeTask(9, 2));
    Worker.AddTask(MakeTask(6, 0));  // queued: the tail is a ping
    EXPECT_EQ(Worker.GetTaskCount(), 3);
    for (int I = 0; I < 97; ++I) Worker.AddTask(MakeTask(42, 100 + I));
    EXPECT_EQ(Worker.GetTaskCount(), 100);
    EXPECT_TRUE(Rec.Get().empty());

    Worker.AddTask(MakeTask(4, 777));  // the 101st
    Worker.AddTask(MakeTask(6, 0));    // refused too: the limit comes before coalescing
    EXPECT_EQ(Worker.GetTaskCount(), 100);
    EXPECT_EQ(Rec.Get(), (std::vector<std::string>{"error mode=4 code=-12 trans=777",
                                                   "error mode=6 code=-12 trans=0"}));
  }
  ASSERT_TRUE(WaitForTaskCount(Worker, 0));
  Worker.AddTask(MakeTask(9, 3));
  ASSERT_TRUE(Rec.WaitFor(5));
  const std::string Id = Narrow(Unregistered);
  EXPECT_EQ(Rec.Get(), (std::vector<std::string>{
                           "error mode=4 code=-12 trans=777", "error mode=6 code=-12 trans=0",
                           "ping " + Id + " trans=1 state=6", "ping " + Id + " trans=2 state=6",
                           "ping " + Id + " trans=3 state=6"}));
}

TEST(OPCInteractor, DestroyWhileCallbackRuns) {
  TCriticalSection Lock;
  TRecorder Rec(&Lock);
  std::promise<void> Release;
  Rec.PingGate = Release.get_future().share();
  auto Worker = std::make_unique<TOPCInteractor>(u"N", Unregistered);
  Rec.Wire(*Worker);
  Worker->AddTask(MakeTask(9, 1));
  ASSERT_TRUE(WaitForTaskCount(*Worker, 0));
  for (int I = 0; I < 5; ++I) Worker->AddTask(MakeTask(9, 10 + I));
  ASSERT_EQ(Worker->GetTaskCount(), 5);

  // The destructor empties the queue first, then waits for the running callback to finish, so
  // the worker stays valid until the gate opens.
  TOPCInteractor* Raw = Worker.get();
  std::thread Destroyer([Owned = std::move(Worker)]() mutable { Owned.reset(); });
  EXPECT_TRUE(WaitForTaskCount(*Raw, 0));
  Release.set_value();
  Destroyer.join();
  EXPECT_EQ(Rec.Get(),
            std::vector<std::string>{"ping " + Narrow(Unregistered) + " trans=1 state=6"});
}

TEST(OPCInteractor, AccessorsAndManyProducers) {
  TRecorder Rec;
  TOPCInteractor Worker(u"Name", u"{}");
  Rec.Wire(Worker);
  EXPECT_EQ(Worker.GetOPCName(), u"Name");
  EXPECT_EQ(Worker.GetOPCGuid(), u"{}");
  Worker.SetOPCName(u"Other");
  EXPECT_EQ(Worker.GetOPCName(), u"Other");
  // Tasks from several threads at once all arrive, each answered once.
  std::vector<std::thread> Producers;
  for (int T = 0; T < 4; ++T)
    Producers.emplace_back([&Worker, T] {
      for (int I = 0; I < 20; ++I) Worker.AddTask(MakeTask(9, T * 100 + I));
    });
  for (auto& P : Producers) P.join();
  ASSERT_TRUE(Rec.WaitFor(80));
  EXPECT_EQ(Rec.Get().size(), 80u);
}

}  // namespace
