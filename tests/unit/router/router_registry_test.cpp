// The registry of workers: one worker per discovered server however scans overlap, registry
// order, lookups by exact identifier, and scans counted while they run and waited for.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <future>
#include <set>
#include <thread>

#include "LoopbackPeer.h"
#include "Registry.h"
#include "RegistryFill.h"
#include "Router.h"
#ifndef _WIN32
#include "RegistryStandIn.h"
#endif

namespace {

const std::u16string Classes = u"Software\\Classes\\";

std::u16string Digit(int N) {
  return std::u16string(1, static_cast<char16_t>(u'0' + N));
}
std::u16string Key(int N) {
  return Classes + u"TgReg." + Digit(N);
}
std::u16string ClassId(int N) {
  return u"{TgReg-" + Digit(N) + u"}";
}

// Program identifier keys "TgReg.<n>" with the class identifier "{TgReg-<n>}".
class RouterRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegistryFill::CreateKey(u"Software\\Classes");
    Clean();
  }
  void TearDown() override { Clean(); }
  void Clean() {
    for (int N = 0; N < 8; ++N) RegistryFill::DeleteKey(Key(N));
    RegistryFill::DeleteKey(Classes + u"TgReg.Renamed");
  }

  static void AddServer(const std::u16string& KeyPath, const std::u16string& Guid) {
    ASSERT_TRUE(RegistryFill::CreateKey(KeyPath + u"\\OPC"));
    ASSERT_TRUE(RegistryFill::SetDefaultString(KeyPath + u"\\CLSID", Guid));
  }
};

TEST_F(RouterRegistryTest, OverlappingScansRegisterEachServerOnce) {
  for (int N = 0; N < 5; ++N) AddServer(Key(N), ClassId(N));
  TLoopbackPeer Peer;
  TRouter Router;
  Router.SetTCPClientProp(ConnectTo(Peer));

  std::vector<std::thread> Threads;
  for (int T = 0; T < 3; ++T)
    Threads.emplace_back([&, T] {
      for (int I = 0; I < 5; ++I) {
        if (T == 0)
          Router.InitConnect();
        else
          Router.MakeRouting(uR"({"cmd":"getOPCServers","TransID":1})");
      }
    });
  // Readers of the registry while it grows.
  Threads.emplace_back([&] {
    for (int I = 0; I < 200; ++I) {
      Router.UpdateEvent();
      Router.MakeRouting(uR"({"cmd":"ping","TransID":2,"OPCServerID":"{TgReg-9}"})");
      Router.FindOPCInteractor(u"", ClassId(I % 5));
    }
  });
  for (auto& T : Threads) T.join();

  // Each server once, in discovery order (under Wine after any servers registered before ours).
  TLoopbackPeer Final;
  Router.SetTCPClientProp(ConnectTo(Final));
  Router.SendListServers(2, 9);
  const std::string List = Final.WaitForLines(1).at(0);
  size_t Previous = 0;
  for (int N = 0; N < 5; ++N) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on the 32-bit "..." + string.
    std::string Entry = "{\"id\":\"{TgReg-";
    Entry += std::to_string(N);
    Entry += "}\",\"name\":\"TgReg.";
    Entry += std::to_string(N);
    Entry += "\"}";
    const size_t At = List.find(Entry);
    ASSERT_NE(At, std::string::npos) << List;
    EXPECT_EQ(List.find(Entry, At + 1), std::string::npos) << List;
    EXPECT_GT(At, Previous);
    Previous = At;
  }
  EXPECT_EQ(List.find("TgReg-5"), std::string::npos);
}

TEST_F(RouterRegistryTest, NewServersAreAppendedAndKnownOnesKept) {
  AddServer(Key(1), ClassId(1));
  AddServer(Key(3), ClassId(3));
  TLoopbackPeer Peer;
  TRouter Router;
  Router.SetUidProp(u"uid-7");
  Router.SetTCPClientProp(ConnectTo(Peer));
  Router.InitConnect();

  // A server installed later, one renamed, and one uninstalled.
  AddServer(Key(0), ClassId(0));
  RegistryFill::DeleteKey(Key(1));
  AddServer(Classes + u"TgReg.Renamed", ClassId(3));
  RegistryFill::DeleteKey(Key(3));
  Router.MakeRouting(uR"({"cmd":"getOPCServers","TransID":4})");

  const auto Lines = Peer.WaitForLines(2);
  ASSERT_EQ(Lines.size(), 2u);
  auto Listed = [](const std::vector<std::pair<const char*, const char*>>& Servers) {
    std::string List;
    for (const auto& [Name, Id] : Servers)
      List += std::string(List.empty() ? "" : ",") + "{\"id\":\"" + Id + "\",\"name\":\"" + Name +
              "\"}";
    return List;
  };
  const std::string First = Listed({{"TgReg.1", "{TgReg-1}"}, {"TgReg.3", "{TgReg-3}"}});
  const std::string Second = Listed({{"TgReg.1", "{TgReg-1}"},
                                     {"TgReg.3", "{TgReg-3}"},
                                     {"TgReg.0", "{TgReg-0}"},
                                     {"TgReg.Renamed", "{TgReg-3}"}});
#ifdef _WIN32
  // Under Wine other servers may be registered too (opcsim); ours must appear in this order.
  EXPECT_NE(Lines[0].find(First), std::string::npos) << Lines[0];
  EXPECT_NE(Lines[1].find(Second), std::string::npos) << Lines[1];
#else
  EXPECT_EQ(Lines[0],
            "{\"cmd\":\"serverOnline\",\"uid\":\"uid-7\",\"TransID\":0,\"ListServers\":[" + First +
                "]}\r\n");
  EXPECT_EQ(Lines[1],
            "{\"cmd\":\"getOPCServers\",\"TransID\":4,\"ListServers\":[" + Second + "]}\r\n");
#endif
  // Requests for the class identifier go to the first worker that carries it.
  EXPECT_EQ(Router.FindOPCInteractor(u"", ClassId(3)), Router.FindOPCInteractor(u"TgReg.3", u""));
}

TEST_F(RouterRegistryTest, LookupsMatchWholeTextsExactly) {
  AddServer(Key(2), ClassId(2));
  TRouter Router;
  Router.InitConnect();
  const int Index = Router.FindOPCInteractor(u"TgReg.2", u"");
  ASSERT_GE(Index, 0);
  EXPECT_EQ(Router.FindOPCInteractor(u"", ClassId(2)), Index);
  EXPECT_EQ(Router.FindOPCInteractor(u"TgReg.2", ClassId(2)), Index);
  EXPECT_EQ(Router.FindOPCInteractor(u"", u""), -1);
  EXPECT_EQ(Router.FindOPCInteractor(u"", u"{tgreg-2}"), -1);
  EXPECT_EQ(Router.FindOPCInteractor(u"", u"TgReg-2"), -1);
  EXPECT_EQ(Router.FindOPCInteractor(u"TgReg.2", u"{TgReg-1}"), -1);
}

#ifndef _WIN32
// Holds each walk at its first open until the test lets that walk go on.
class TWalkGate {
 public:
  TWalkGate() {
    RegistryStandIn::SetOpenHook([this](const std::u16string& Path) {
      if (Path != u"Software\\Classes") return;
      std::unique_lock Guard(Lock);
      const int Ticket = ++Entered;
      Changed.notify_all();
      Changed.wait(Guard, [&] { return Released.contains(Ticket); });
    });
  }
  ~TWalkGate() { RegistryStandIn::SetOpenHook(nullptr); }
  void WaitEntered(int Count) {
    std::unique_lock Guard(Lock);
    Changed.wait(Guard, [&] { return Entered >= Count; });
  }
  void Release(int Ticket) {
    std::lock_guard Guard(Lock);
    Released.insert(Ticket);
    Changed.notify_all();
  }

 private:
  std::mutex Lock;
  std::condition_variable Changed;
  int Entered = 0;
  std::set<int> Released;
};

TEST_F(RouterRegistryTest, BusyWhileAnyScanRuns) {
  TRouter Router;
  EXPECT_FALSE(Router.IsBusy());
  TWalkGate Gate;
  std::thread First([&] { Router.SyncOPCInteractors(); });
  Gate.WaitEntered(1);
  std::thread Second([&] { Router.SyncOPCInteractors(); });
  Gate.WaitEntered(2);
  EXPECT_TRUE(Router.IsBusy());
  Gate.Release(2);
  Second.join();
  EXPECT_TRUE(Router.IsBusy());  // the first scan still runs
  Gate.Release(1);
  First.join();
  EXPECT_FALSE(Router.IsBusy());
}

// Destruction waits for a scan that still runs, then stops the worker that scan registered. A
// destruction that did not wait would be over within the grace period and free the registry the
// scan still fills.
TEST_F(RouterRegistryTest, DestructionWaitsForARunningScan) {
  AddServer(Key(0), ClassId(0));
  auto Router = std::make_unique<TRouter>();
  TRouter* Scanned = Router.get();
  TWalkGate Gate;
  std::thread Scan([Scanned] { Scanned->SyncOPCInteractors(); });
  Gate.WaitEntered(1);
  auto Destroying = std::async(std::launch::async, [&] { Router.reset(); });
  EXPECT_EQ(Destroying.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  Gate.Release(1);
  Scan.join();
  if (Destroying.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "destruction did not end after the scan";
    std::_Exit(1);  // the destroying thread cannot be stopped
  }
}

// A key whose listing fails at every index (deleted during the walk, or a fault that repeats) ends
// that key's listing: the walk ends, the candidate is skipped, the others are found.
TEST_F(RouterRegistryTest, AListingFaultSkipsTheCandidateAndTheScanEnds) {
  const long Faults[] = {RegEnum::KeyDeleted, RegEnum::MoreData, 5 /* access denied */};
  for (const long Fault : Faults) {
    Clean();
    for (int N = 0; N < 3; ++N) AddServer(Key(N), ClassId(N));
    RegistryStandIn::SetEnumFault(Key(1), Fault);
    TRouter Router;
    auto Scan = std::async(std::launch::async, [&] { Router.SyncOPCInteractors(); });
    if (Scan.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
      ADD_FAILURE() << "the scan did not end, fault " << Fault;
      std::_Exit(1);  // the scan's thread cannot be stopped
    }
    EXPECT_FALSE(Router.IsBusy()) << Fault;
    EXPECT_GE(Router.FindOPCInteractor(u"TgReg.0", ClassId(0)), 0) << Fault;
    EXPECT_EQ(Router.FindOPCInteractor(u"", ClassId(1)), -1) << Fault;
    EXPECT_GE(Router.FindOPCInteractor(u"TgReg.2", ClassId(2)), 0) << Fault;
  }
}
#endif

}  // namespace
