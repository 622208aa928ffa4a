// Workers whose OPC server stops answering inside a call: the fake server's GetStatus blocks until
// the test releases it; and a worker that waits to connect again to a server that is stopping.
// Native only: the worker reaches the fake, registered on the test's thread, through the
// stand-in's process-wide class table.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>

#include "FakeOPCServer.h"
#include "OPCInteractor.h"
#include "OPCTestSupport.h"

namespace {

using namespace std::chrono_literals;

const CLSID FakeID = {0x7A11E5E1, 0x1234, 0x4ABC, {0x9D, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};
const std::u16string FakeText = u"{7A11E5E1-1234-4ABC-9DEF-0123456789AB}";
const std::u16string Unregistered = u"{0BADC0DE-0000-4000-8000-000000000002}";

// Holds every caller until released.
class TGate {
 public:
  void Pass() {
    std::unique_lock<std::mutex> Guard(Lock);
    ++Waiting;
    Changed.notify_all();
    Changed.wait(Guard, [this] { return Open; });
  }
  bool WaitForCaller() {
    std::unique_lock<std::mutex> Guard(Lock);
    return Changed.wait_for(Guard, std::chrono::seconds(20), [this] { return Waiting > 0; });
  }
  void Release() {
    {
      std::lock_guard<std::mutex> Guard(Lock);
      Open = true;
    }
    Changed.notify_all();
  }

 private:
  std::mutex Lock;
  std::condition_variable Changed;
  int Waiting = 0;
  bool Open = false;
};

class HungServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    State->OnGetStatus = [this] {
      if (HangStatus) Gate.Pass();
    };
    Registration = std::make_unique<TFakeRegistration>(FakeID, State);
    Idle = State->LiveObjects.load();  // the class object
    Hung = std::make_unique<TOPCInteractor>(u"Hung", FakeText);
    Rec->Wire(*Hung);
    Hung->AddTask(MakeTask(3, 1, {}, u"sync", 500));
    ASSERT_TRUE(Rec->WaitFor(1));
    ASSERT_EQ(Rec->Get()[0], "connect " + Narrow(FakeText) + " trans=1");
    HangStatus = true;
  }

  void TearDown() override {
    Gate.Release();
    Hung.reset();
    Other.reset();
  }

  std::shared_ptr<TFakeState> State = std::make_shared<TFakeState>();
  std::unique_ptr<TFakeRegistration> Registration;
  int Idle = 0;
  TGate Gate;
  std::atomic<bool> HangStatus{false};
  std::unique_ptr<TCriticalSection> Lock = std::make_unique<TCriticalSection>();
  std::unique_ptr<TRecorder> Rec = std::make_unique<TRecorder>(Lock.get());
  std::unique_ptr<TOPCInteractor> Hung;
  std::unique_ptr<TOPCInteractor> Other;
};

// The state of a hung server is read without the owner's lock, so other workers still answer.
TEST_F(HungServerTest, PingOfHungServerHoldsUpNoOtherAnswer) {
  Hung->AddTask(MakeTask(9, 2));
  ASSERT_TRUE(Gate.WaitForCaller());

  Other = std::make_unique<TOPCInteractor>(u"Other", Unregistered);
  Rec->Wire(*Other);
  Other->AddTask(MakeTask(9, 3));
  Other->AddTask(MakeTask(4, 4));
  ASSERT_TRUE(Rec->WaitFor(3)) << "the other worker's answers wait for the hung server";

  Gate.Release();
  ASSERT_TRUE(Rec->WaitFor(4));
  const std::string U = Narrow(Unregistered);
  EXPECT_EQ(Rec->Get(),
            (std::vector<std::string>{"connect " + Narrow(FakeText) + " trans=1",
                                      "ping " + U + " trans=3 state=6",
                                      "connectError mode=4 code=-6 trans=4 " + U,
                                      "ping " + Narrow(FakeText) + " trans=2 state=1"}));
}

// Stopping leaves a worker stuck in a call to a hung server behind. By the time the call returns
// its owner, with the lock and the callbacks, is gone: the thread reaches neither, ends and
// releases the server object.
TEST_F(HungServerTest, StopLeavesWorkerStuckInCallBehind) {
  Hung->AddTask(MakeTask(9, 2));
  ASSERT_TRUE(Gate.WaitForCaller());
  Hung->AddTask(MakeTask(9, 3));  // emptied by stopping
  auto Stopping = std::async(
      std::launch::async, [this] { return Hung->Stop(std::chrono::steady_clock::now() + 200ms); });
  const bool Returned = Stopping.wait_for(20s) == std::future_status::ready;
  if (!Returned) Gate.Release();
  ASSERT_TRUE(Returned) << "stopping waits for the hung call";
  EXPECT_FALSE(Stopping.get()) << "a thread stuck in a call is reported as left behind";
  Hung.reset();

  const std::vector<std::string> Answers = Rec->Get();
  Rec.reset();
  Lock.reset();
  Gate.Release();
  for (int Tries = 0; Tries < 2000 && State->LiveObjects.load() != Idle; ++Tries)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(State->LiveObjects.load(), Idle) << "the thread left behind ends once the call returns";
  EXPECT_EQ(Answers, std::vector<std::string>{"connect " + Narrow(FakeText) + " trans=1"});
}

// A worker that ends within the wait is joined, whatever it was doing.
TEST_F(HungServerTest, StopJoinsWorkerThatEndsInTime) {
  Hung->AddTask(MakeTask(9, 2));
  ASSERT_TRUE(Gate.WaitForCaller());
  Gate.Release();
  EXPECT_TRUE(Hung->Stop(std::chrono::steady_clock::now() + 20s));
  EXPECT_EQ(State->LiveObjects.load(), Idle) << "the thread has released the server object";
}

// A connect waiting to try a stopping server again gives up when its worker is told to stop.
TEST(StoppingServerTest, StopEndsTheWaitBeforeTheNextTry) {
  const CLSID StoppingID = {
      0x7A11E5E2, 0x1234, 0x4ABC, {0x9D, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};
  const std::u16string StoppingText = u"{7A11E5E2-1234-4ABC-9DEF-0123456789AB}";
  auto State = std::make_shared<TFakeState>();
  State->CreateResults = {CO_E_SERVER_STOPPING, CO_E_SERVER_STOPPING, CO_E_SERVER_STOPPING};
  TFakeRegistration Registration(StoppingID, State);
  TCriticalSection Lock;
  TRecorder Rec(&Lock);
  TOPCInteractor Worker(u"Stopping", StoppingText);
  Rec.Wire(Worker);
  Worker.AddTask(MakeTask(3, 1, {}, u"sync", 500));
  ASSERT_TRUE(Rec.WaitFor(1));  // said just before the first wait
  EXPECT_EQ(Rec.Get()[0].rfind("notice OPC server " + Narrow(StoppingText) + " is stopping", 0), 0u)
      << Rec.Get()[0];
  EXPECT_TRUE(Worker.Stop(std::chrono::steady_clock::now() + 20s));
  EXPECT_EQ(State->Creations.load(), 1) << "no further try once the worker was told to stop";
}

}  // namespace
