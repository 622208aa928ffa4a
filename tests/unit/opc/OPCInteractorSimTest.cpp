// Workers against the simulated OPC DA server: each worker creates its server object on its own
// thread (natively through the stand-in's class-object table, under Wine through the registered
// opcsim.dll), while the test drives the simulator through its control interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "HashName.h"
#include "OPCInteractor.h"
#include "OPCTestSupport.h"
#include "SimControl.h"
#ifndef _WIN32
#include "OpcSim.h"
#endif

namespace {

const std::u16string ServerJson =
    uR"({"progId": "Tagrelay.OpcSim.1",
  "clsid": "{12226D95-F79B-42B9-BF2E-69408C20B162}", "itemPrefix": "[Dev]", "tree": [
  {"leaf": "Top", "type": "I4", "value": 7, "refuseWrite": true},
  {"branch": "Plant", "children": [
    {"leaf": "Temp.PV", "type": "R8", "value": 1.5},
    {"branch": "Line2", "children": [
      {"leaf": "Temp", "type": "I4", "access": "r", "change": "counter", "period": 50},
      {"leaf": "Set", "type": "I4", "access": "rw", "value": 0},
      {"leaf": "Limit", "type": "I4", "value": 3, "quality": 193},
      {"leaf": "Arr", "type": "I4[]"}]},
    {"branch": "Locked", "refuseEntry": true, "children": [{"leaf": "X", "type": "I4"}]},
    {"branch": "Dev", "children": [{"leaf": "Small", "type": "R4", "value": 0.1}]}]}]})";

const std::u16string HTop = MakeHashName(u"[Dev]Top");
const std::u16string HTempPV = MakeHashName(u"[Dev]Plant$#%Temp.PV");
const std::u16string HTemp = MakeHashName(u"[Dev]Plant$#%Line2$#%Temp");
const std::u16string HSet = MakeHashName(u"[Dev]Plant$#%Line2$#%Set");
const std::u16string HLimit = MakeHashName(u"[Dev]Plant$#%Line2$#%Limit");
const std::u16string HArr = MakeHashName(u"[Dev]Plant$#%Line2$#%Arr");
const std::u16string HSmall = MakeHashName(u"[Dev]Plant$#%Dev$#%Small");

void MakeSimulatorAvailable() {
#ifndef _WIN32
  // Natively the simulator lives in this program; under Wine it is registered in the prefix.
  // Registered from inside the constructor, so the runtime's class table (made on first use)
  // outlives the registration at exit.
  struct TNativeServers {
    opcsim::ClassObjectRegistration Registration;
    bool Ok = false;
    TNativeServers() {
      std::u16string Error;
      Ok = opcsim::LoadConfig(u"{\"servers\": [" + ServerJson + u"]}", Error) &&
           SUCCEEDED(Registration.Register());
    }
  };
  static TNativeServers Servers;
  ASSERT_TRUE(Servers.Ok);
#endif
}

class OPCInteractorSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeSimulatorAvailable();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Control = MakeControl();
    ASSERT_TRUE(Control);
    ASSERT_EQ(Control->Configure(U16ToOle(ServerJson)), S_OK);
    ASSERT_EQ(Control->GetLiveObjects(&LiveBefore), S_OK);
    Worker = std::make_unique<TOPCInteractor>(u"Tagrelay.OpcSim.1", PlantText);
    Rec.Wire(*Worker);
    Worker->SetGetTagsCallback([this](const std::u16string& Id, int32_t Trans) {
      for (const auto& Tag : Worker->GetOPCTagsArr()) Tags.push_back(Narrow(Tag.SeparatorName));
      Rec.Add("tags " + Narrow(Id) + " trans=" + std::to_string(Trans));
    });
  }

  void TearDown() override {
    Worker.reset();
    DWORD LiveAfter = 0;
    ASSERT_EQ(Control->GetLiveObjects(&LiveAfter), S_OK);
    EXPECT_EQ(LiveAfter, LiveBefore) << "the worker released every server object";
    Control->Reset();
  }

  // A server object of the simulator, on the test's thread, through its control interface.
  static ComPtr<IOpcSimControl> MakeControl() {
    ComPtr<IUnknown> Object;
    ComPtr<IOpcSimControl> Made;
    if (FAILED(CoCreateInstance(PlantID, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(Object.GetAddressOf()))) ||
        FAILED(Object->QueryInterface(IID_IOpcSimControl,
                                      reinterpret_cast<void**>(Made.GetAddressOf()))))
      return nullptr;
    return Made;
  }

  // Runs one task and returns its answer.
  std::string Run(const TElement& Task) {
    const size_t Before = Rec.Get().size();
    Worker->AddTask(Task);
    EXPECT_TRUE(Rec.WaitFor(Before + 1));
    return Rec.Get().at(Before);
  }

  // Runs an update task and waits until the worker has finished it.
  void Update() {
    const size_t Before = Rec.Get().size();
    Worker->AddTask(MakeTask(6, 0));
    Worker->AddTask(MakeTask(5, -1));  // a getValues of nothing, answered once the update is done
    ASSERT_TRUE(Rec.WaitFor(Before + 1));
  }

  std::string Id() const { return Narrow(PlantText); }

  TCriticalSection Lock;
  TRecorder Rec{&Lock};
  ComPtr<IOpcSimControl> Control;
  DWORD LiveBefore = 0;
  std::vector<std::string> Tags;  // captured in the getTags answer, on the worker's thread
  std::unique_ptr<TOPCInteractor> Worker;
};

TEST_F(OPCInteractorSimTest, SyncConnectBrowseReadWrite) {
  EXPECT_EQ(Run(MakeTask(3, 1, {}, u"sync", 100)), "connect " + Id() + " trans=1");
  EXPECT_EQ(Run(MakeTask(3, 2, {}, u"sync", 100)), "connectError mode=3 code=-2 trans=2 " + Id());
  EXPECT_EQ(Run(MakeTask(4, 3)), "tags " + Id() + " trans=3");
  EXPECT_EQ(Tags, (std::vector<std::string>{
                      "[Dev]Top", "[Dev]Plant$#%Temp.PV", "[Dev]Plant$#%Line2$#%Temp",
                      "[Dev]Plant$#%Line2$#%Set", "[Dev]Plant$#%Line2$#%Limit",
                      "[Dev]Plant$#%Line2$#%Arr", "[Dev]Plant$#%Dev$#%Small"}));

  const TArray Names{HTop, HTemp, HLimit, HArr, HSmall};
  const std::string Joined = Join(Names);
  EXPECT_EQ(Run(MakeTask(5, 4, Names)),
            "values " + Id() + " trans=4 names=" + Joined + " values=|||| qualities=||||");
  Update();
  const std::string Answer = Run(MakeTask(5, 5, Names));
  const std::string Prefix = "values " + Id() + " trans=5 names=" + Joined + " values=7|";
  ASSERT_EQ(Answer.substr(0, Prefix.size()), Prefix);
  // Temp counts up; the limited good value counts as good; an array cannot be read.
  EXPECT_NE(Answer.find("|3|<Unread Value>|0.100000001490116 qualities=1|1|1|0|1"),
            std::string::npos)
      << Answer;

  Run(MakeTask(5, 51, {HSet}));  // a tag is written only once a getValues added it
  EXPECT_EQ(Run(MakeTask(7, 6, {HSet, u"12,5"})),
            "set " + Id() + " trans=6 " + Narrow(HSet) + "=12,5");
  EXPECT_EQ(Run(MakeTask(7, 7, {HTop, u"1"})),
            "setError " + Id() + " trans=7 " + Narrow(HTop) + " code=-14");
  EXPECT_EQ(Run(MakeTask(7, 8, {HTempPV, u"1"})),
            "setError " + Id() + " trans=8 " + Narrow(HTempPV) + " code=-13");
  EXPECT_EQ(Run(MakeTask(9, 9)), "ping " + Id() + " trans=9 state=1");
  EXPECT_EQ(Run(MakeTask(8, 10)), "disconnect " + Id() + " trans=10");
  EXPECT_FALSE(Worker->IsOPCInit());
  EXPECT_EQ(Run(MakeTask(4, 11)), "connectError mode=4 code=-6 trans=11 " + Id());
  EXPECT_EQ(Run(MakeTask(3, 12, {}, u"sync", 100)), "connect " + Id() + " trans=12");
  EXPECT_TRUE(Worker->IsOPCInit());
}

TEST_F(OPCInteractorSimTest, AsyncChangesArriveWhileIdle) {
  EXPECT_EQ(Run(MakeTask(3, 1, {}, u"async", 50)), "connect " + Id() + " trans=1");
  Run(MakeTask(5, 2, {HTemp, HLimit, HArr}));
  // With no task queued, the worker's wait delivers the server's notifications.
  ASSERT_TRUE(Rec.WaitFor(Rec.Get().size() + 3));
  std::vector<std::string> Pushes;
  for (const auto& Event : Rec.Get())
    if (Event.rfind("values " + Id() + " trans=0 ", 0) == 0) Pushes.push_back(Event);
  ASSERT_GE(Pushes.size(), 2u);
  bool SawAll = false;
  for (const auto& Push : Pushes) {
    // The sink pushes without the owner's lock.
    EXPECT_NE(Push.find("UNLOCKED"), std::string::npos);
    if (Push.find("names=" + Join({HTemp, HLimit, HArr})) == std::string::npos) continue;
    // Limit bits: pushed empty with "0"; the array: "<Unread Value>" with "0".
    EXPECT_NE(Push.find("||<Unread Value> qualities=1|0|0"), std::string::npos) << Push;
    SawAll = true;
  }
  EXPECT_TRUE(SawAll) << "the first notification after the advise carries every item";
}

#ifdef _WIN32
// The simulator's DllCanUnloadNow then waits for a thread of its own, whose end needs the loader
// lock. The worker leaves its apartment on its own thread before that thread ends, so COM asks
// the DLL there; asked during the thread's detach, under the loader lock, the wait never ends and
// neither does this Stop.
TEST_F(OPCInteractorSimTest, EndsAfterAnAsyncSessionWithAServerWhoseUnloadWaits) {
  ASSERT_EQ(Control->SetFaults(OLESTR("{\"unloadWaitsForThread\": true}")), S_OK);
  EXPECT_EQ(Run(MakeTask(3, 1, {}, u"async", 50)), "connect " + Id() + " trans=1");
  Run(MakeTask(5, 2, {HTemp}));
  ASSERT_TRUE(Rec.WaitFor(Rec.Get().size() + 1));  // a push
  Control.Reset();  // no object of the simulator is left outside the worker
  EXPECT_TRUE(Worker->Stop(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
  Control = MakeControl();
  ASSERT_TRUE(Control);
}
#endif

TEST_F(OPCInteractorSimTest, ElevenFailedChecksThenOneReconnect) {
  EXPECT_EQ(Run(MakeTask(3, 1, {}, u"sync", 100)), "connect " + Id() + " trans=1");
  Run(MakeTask(5, 2, {HTop}));
  // Ten failures, then the server recovers once: the count starts again.
  ASSERT_EQ(Control->SetFaults(OLESTR("{\"statusFailFrom\": 1, \"statusFailCount\": 10}")), S_OK);
  for (int I = 0; I < 11; ++I) Update();
  ASSERT_EQ(Control->SetFaults(OLESTR("{\"statusFailFrom\": 1, \"statusFailCount\": 0}")), S_OK);
  for (int I = 0; I < 10; ++I) Update();
  EXPECT_TRUE(Worker->IsOPCInit());
  const size_t Before = Rec.Get().size();
  Worker->AddTask(MakeTask(6, 0));  // the eleventh failure in a row
  ASSERT_TRUE(Rec.WaitFor(Before + 2));
  const auto Events = Rec.Get();
  EXPECT_EQ(Events[Before], "connectError mode=6 code=-17 trans=0 " + Id());
  EXPECT_EQ(Events[Before + 1], "connect " + Id() + " trans=0");  // the single reconnect
  for (const auto& Event : Events) EXPECT_EQ(Event.find("UNLOCKED"), std::string::npos) << Event;
}

TEST_F(OPCInteractorSimTest, DestroyWhileTaskRuns) {
  EXPECT_EQ(Run(MakeTask(3, 1, {}, u"sync", 100)), "connect " + Id() + " trans=1");
  Run(MakeTask(5, 2, {HTop, HTemp}));
  ASSERT_EQ(Control->SetFaults(OLESTR("{\"callDelayMs\": 200}")), S_OK);  // a hung server
  Worker->AddTask(MakeTask(9, 3));
  Worker->AddTask(MakeTask(9, 4));
  ASSERT_TRUE(WaitForTaskCount(*Worker, 1));
  Worker.reset();  // waits for the ping in hand; the queued one is dropped
  const auto Events = Rec.Get();
  EXPECT_EQ(std::count_if(Events.begin(), Events.end(),
                          [](const std::string& E) { return E.rfind("ping ", 0) == 0; }),
            1);
  ASSERT_EQ(Control->SetFaults(OLESTR("{\"callDelayMs\": 0}")), S_OK);
}

}  // namespace
