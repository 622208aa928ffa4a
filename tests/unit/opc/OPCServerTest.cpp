// The server connection against a fake server whose answers the test controls, on the test's
// own thread (the connection's apartment).
#include "OPCServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "FakeOPCServer.h"
#include "HashName.h"
#include "OPCTestSupport.h"

namespace {

const CLSID FakeID = {0x7A11E5E0, 0x1234, 0x4ABC, {0x9D, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};
const std::u16string FakeText = u"{7A11E5E0-1234-4ABC-9DEF-0123456789AB}";

std::u16string Hash(const std::u16string& SeparatorName) {
  return MakeHashName(SeparatorName);
}
const std::u16string HTop = Hash(u"Top");
const std::u16string HTempPV = Hash(u"Plant$#%Temp.PV");
const std::u16string HTemp = Hash(u"Plant$#%Line2$#%Temp");
const std::u16string HSet = Hash(u"Plant$#%Line2$#%Set");
const std::u16string HDev = Hash(u"[Dev]Plant$#%Dev$#%Temp");

class OPCServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TFakeBranch Line2{
        u"Line2",
        {{u"Temp", u"Plant.Line2.Temp", OPC_READABLE}, {u"Set", u"Plant.Line2.Set", OPC_WRITEABLE}},
        {}};
    TFakeBranch Locked{u"Locked", {{u"X", u"Plant.Locked.X"}}, {}, true};
    TFakeBranch Dev{u"Dev", {{u"Temp", u"[Dev]Plant.Dev.Temp"}}, {}};
    TFakeBranch Plant{u"Plant", {{u"Temp.PV", u"Plant.Temp.PV"}}, {Line2, Locked, Dev}};
    State->Root = TFakeBranch{u"", {{u"Top", u"Top"}}, {Plant}};
    State->SetValue(u"Top", 7);
    State->SetValue(u"Plant.Temp.PV", 8);
    State->SetValue(u"Plant.Line2.Temp", 21);
    State->SetValue(u"Plant.Line2.Set", 0);
    State->SetValue(u"[Dev]Plant.Dev.Temp", 9);
    Registration = std::make_unique<TFakeRegistration>(FakeID, State);
    Server = std::make_unique<TOPCServer>(FakeText);
    Server->SetGetValuesCallback([this](const std::u16string& Id, int32_t Trans, const TArray& N,
                                        const TArray& V, const TArray& Q) {
      Pushes.push_back(Narrow(Id) + " " + std::to_string(Trans) + " " + Join(N) + " " + Join(V) +
                       " " + Join(Q));
    });
  }

  void TearDown() override {
    Server.reset();
    Registration.reset();
    EXPECT_EQ(State->LiveObjects, 0) << "every COM reference is released";
  }

  // Values and qualities of a getValues, as "value/quality" joined by "|".
  std::string Values(const TArray& Names, int32_t* Result = nullptr) {
    TArray V{u"stale"}, Q;
    const int32_t R = Server->GetOPCItemValues(Names, V, Q);
    if (Result) *Result = R;
    if (R < 0) return "error " + std::to_string(R);
    EXPECT_EQ(R, static_cast<int32_t>(Names.size()));
    std::string Out;
    for (size_t I = 0; I < V.size(); ++I) {
      if (I) Out += '|';
      Out += Narrow(V[I]);
      Out += '/';
      Out += Narrow(Q[I]);
    }
    return Out;
  }

  std::vector<std::string> TakeLog() { return std::exchange(State->Log, {}); }

  std::shared_ptr<TFakeState> State = std::make_shared<TFakeState>();
  std::unique_ptr<TFakeRegistration> Registration;
  std::unique_ptr<TOPCServer> Server;
  std::vector<std::string> Pushes;
};

TEST_F(OPCServerTest, ConnectStatesAndServerState) {
  EXPECT_EQ(Server->GetOPCState(), 6);  // no server object yet
  EXPECT_EQ(Server->Disconnect(), 0);   // never connected: only the tag table is emptied
  EXPECT_EQ(Server->Init(u"sync", 500), 0);
  EXPECT_TRUE(Server->IsOPCInit());
  EXPECT_TRUE(Server->GetSyncMode());
  EXPECT_EQ(Server->GetResponseTime(), 500);
  EXPECT_EQ(Server->Init(u"sync", 500), -2);
  EXPECT_EQ(Server->GetOPCState(), 1);
  State->State = OPC_STATUS_SUSPENDED;
  EXPECT_EQ(Server->GetOPCState(), 4);
  State->StatusResult = E_FAIL;
  EXPECT_EQ(Server->GetOPCState(), 6);
  State->StatusResult = S_OK;
  EXPECT_EQ(Server->Disconnect(), 0);
  EXPECT_FALSE(Server->IsOPCInit());
  EXPECT_EQ(Server->GetOPCState(), 4);       // the kept server object still answers
  EXPECT_EQ(Server->Init(u"Sync", 250), 0);  // not exactly "sync": asynchronous
  EXPECT_FALSE(Server->GetSyncMode());
  EXPECT_EQ(Server->GetResponseTime(), 250);
}

// A connect whose server says it is stopping or gone tries twice more, after 500 and after
// 1000 ms, saying so before each wait; any other failure ends it at once.
TEST_F(OPCServerTest, ConnectTriesAgainOnlyWhileTheServerIsStoppingOrGone) {
  const HRESULT Unavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
  struct TCase {
    const char* Name;
    std::vector<HRESULT> Create;  // results of the class object's CreateInstance, in turn
    std::vector<HRESULT> Query;   // results of asking the new object for IOPCServer
    bool Stopped;                 // the worker is told to stop during the first wait
    int32_t Result;
    int Creations;
    size_t Waits;
  };
  const TCase Cases[] = {
      {"stopping twice", {CO_E_SERVER_STOPPING, CO_E_SERVER_STOPPING}, {}, false, 0, 3, 2},
      {"exec failure", {CO_E_SERVER_EXEC_FAILURE}, {}, false, 0, 2, 1},
      {"class object makes nothing", {CLASS_E_CLASSNOTAVAILABLE}, {}, false, 0, 2, 1},
      {"disconnected", {RPC_E_DISCONNECTED}, {}, false, 0, 2, 1},
      {"died", {RPC_E_SERVER_DIED}, {}, false, 0, 2, 1},
      {"died before the call", {RPC_E_SERVER_DIED_DNE}, {}, false, 0, 2, 1},
      {"unavailable", {Unavailable}, {}, false, 0, 2, 1},
      {"first call disconnected", {}, {RPC_E_DISCONNECTED}, false, 0, 2, 1},
      {"gone for good",
       {CO_E_SERVER_STOPPING, RPC_E_DISCONNECTED, Unavailable},
       {},
       false,
       -5,
       3,
       2},
      {"stopped while waiting", {CO_E_SERVER_STOPPING}, {}, true, -5, 1, 1},
      {"plain failure", {E_FAIL}, {}, false, -5, 1, 0},
      {"no memory", {E_OUTOFMEMORY}, {}, false, -5, 1, 0},
      {"not an OPC server", {}, {E_NOINTERFACE}, false, -5, 1, 0},
  };
  for (const TCase& Case : Cases) {
    State->CreateResults = Case.Create;
    State->OPCServerQueryResults = Case.Query;
    State->Creations = 0;
    std::vector<long long> Waits;
    std::vector<std::string> Notices;
    auto Connection = std::make_unique<TOPCServer>(FakeText);
    Connection->SetNoticeCallback(
        [&Notices](const std::u16string& Text) { Notices.push_back(Narrow(Text)); });
    Connection->SetPauseCallback([&Waits, &Case](std::chrono::milliseconds Wait) {
      Waits.push_back(Wait.count());
      return !Case.Stopped;
    });
    EXPECT_EQ(Connection->Init(u"sync", 500), Case.Result) << Case.Name;
    EXPECT_EQ(Connection->IsOPCInit(), Case.Result == 0) << Case.Name;
    EXPECT_EQ(State->Creations.load(), Case.Creations) << Case.Name;
    const std::vector<long long> Expected{500, 1000};
    EXPECT_EQ(Waits, std::vector<long long>(Expected.begin(), Expected.begin() + Case.Waits))
        << Case.Name;
    EXPECT_EQ(Notices.size(), Case.Waits) << Case.Name;
  }
  State->CreateResults = {CO_E_SERVER_STOPPING};
  std::vector<std::string> Notices;
  Server->SetNoticeCallback(
      [&Notices](const std::u16string& Text) { Notices.push_back(Narrow(Text)); });
  Server->SetPauseCallback([](std::chrono::milliseconds) { return true; });
  EXPECT_EQ(Server->Init(u"sync", 500), 0);
  EXPECT_EQ(Notices, std::vector<std::string>{"OPC server " + Narrow(FakeText) +
                                              " is stopping or gone (0x80080008): connecting "
                                              "again in 500 ms"});
}

// Every connect enters the thread's apartment; the connection leaves each entry as it is
// destroyed, so that a worker's thread ends outside any apartment.
TEST(OPCServerApartmentTest, DestructionLeavesEveryEntryOfItsThread) {
  std::thread([] {
    {
      TOPCServer Connection(u"{0BADC0DE-0000-4000-8000-000000000003}");  // registered nowhere
      for (int I = 0; I < 3; ++I) EXPECT_EQ(Connection.Init(u"sync", 500), -5);
    }
    const HRESULT Hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(Hr, S_OK) << "the thread was still inside the connection's apartment";
    if (SUCCEEDED(Hr)) CoUninitialize();
  }).join();
}

TEST_F(OPCServerTest, BrowseWalkOrderNamesAndRights) {
  EXPECT_EQ(Server->GetTagsList(), -6);
  ASSERT_EQ(Server->Init(u"sync", 500), 0);
  ASSERT_EQ(Server->GetTagsList(), 5);
  struct TRow {
    std::u16string Separator, Link;
    bool R, W;
  };
  const TRow Expected[] = {
      {u"Top", u"Top", true, true},
      {u"Plant$#%Temp.PV", u"Plant.Temp.PV", true, true},
      {u"Plant$#%Line2$#%Temp", u"Plant.Line2.Temp", true, false},
      {u"Plant$#%Line2$#%Set", u"Plant.Line2.Set", false, true},
      // The refused branch is skipped and the walk stays at its level: Dev is still found.
      {u"[Dev]Plant$#%Dev$#%Temp", u"[Dev]Plant.Dev.Temp", true, true},
  };
  const TItemsFullList& Tags = Server->GetOPCTagsArr();
  ASSERT_EQ(Tags.size(), std::size(Expected));
  for (size_t I = 0; I < Tags.size(); ++I) {
    EXPECT_EQ(Narrow(Tags[I].SeparatorName), Narrow(Expected[I].Separator));
    EXPECT_EQ(Narrow(Tags[I].LinkName), Narrow(Expected[I].Link));
    EXPECT_EQ(Tags[I].HashName, Hash(Expected[I].Separator));
    EXPECT_EQ(Tags[I].Readable, Expected[I].R) << I;
    EXPECT_EQ(Tags[I].Writeable, Expected[I].W) << I;
  }
  const int Calls = State->Calls;
  EXPECT_EQ(Server->GetTagsList(), 5);
  EXPECT_EQ(State->Calls, Calls) << "the second call browses nothing";
  EXPECT_EQ(Server->Disconnect(), 0);
  EXPECT_TRUE(Server->GetOPCTagsArr().empty());
}

TEST_F(OPCServerTest, BrowseFailures) {
  ASSERT_EQ(Server->Init(u"sync", 500), 0);
  State->FailRootLeaves = true;
  EXPECT_EQ(Server->GetTagsList(), -11);
  EXPECT_TRUE(Server->GetOPCTagsArr().empty());
  State->FailRootLeaves = false;
  EXPECT_EQ(Server->GetTagsList(), 5);  // an empty result is not remembered
  EXPECT_EQ(Server->Disconnect(), 0);
  State->NoBrowser = true;
  ASSERT_EQ(Server->Init(u"sync", 500), 0);
  EXPECT_EQ(Server->GetTagsList(), -10);
}

TEST_F(OPCServerTest, SyncModeReadsOnUpdate) {
  ASSERT_EQ(Server->Init(u"sync", 500), 0);
  EXPECT_EQ(Values({HTemp, HTop, u"not-a-tag"}), "/|/|/");
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"AddGroup sync 500", "AddItems sync 3"}));
  State->SetValue(u"Top", 5, 0xC1);  // good, low limited
  State->SetValue(u"Plant.Line2.Temp", 22, 0x40);
  int Calls = State->Calls;
  EXPECT_TRUE(Server->UpdateOPCServersValues());
  EXPECT_EQ(State->Calls - Calls, 2) << "an update is one read and one status call";
  // The tag outside the table never gets a value.
  EXPECT_EQ(Values({HTemp, HTop, u"not-a-tag"}), "22/0|5/1|/");
  EXPECT_TRUE(TakeLog().empty()) << "known tags change no group";
  EXPECT_TRUE(Pushes.empty()) << "sync mode pushes nothing";

  // A new tag rebuilds the group with every tag so far (the new one is in the array already).
  // Only the items the server took are removed: not the refused one, not the new one.
  EXPECT_EQ(Values({HDev}), "/");
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"RemoveItems sync 2", "RemoveGroup sync",
                                                 "AddGroup sync 500", "AddItems sync 4"}));
  Calls = State->Calls;
  EXPECT_TRUE(Server->UpdateOPCServersValues());
  EXPECT_EQ(State->Calls - Calls, 2);
  EXPECT_EQ(Values({HDev, HTop}), "9/1|5/1") << "the rebuilt group is read";
}

TEST_F(OPCServerTest, AsyncModePushesChanges) {
  ASSERT_EQ(Server->Init(u"async", 100), 0);
  EXPECT_EQ(Values({HTemp, HTop}), "/|/");
  EXPECT_EQ(TakeLog(),
            (std::vector<std::string>{"AddGroup async 100", "AddItems async 2", "Advise async"}));
  State->Fire("async", {u"Top", u"Plant.Line2.Temp"});
  ASSERT_EQ(Pushes.size(), 1u);
  EXPECT_EQ(Pushes[0], Narrow(FakeText) + " 0 " + Narrow(HTop) + "|" + Narrow(HTemp) + " 7|21 1|1");
  EXPECT_EQ(Values({HTemp, HTop}), "21/1|7/1");

  State->SetValue(u"Top", 6, 0xC2);  // limit bits: no value, stored value kept
  VARIANT Array;
  VariantInit(&Array);
  Array.vt = VT_ARRAY | VT_I4;
  Array.parray = SafeArrayCreateVector(VT_I4, 0, 3);
  State->SetValue(u"Plant.Line2.Temp", Array, OPC_QUALITY_GOOD);
  VariantClear(&Array);
  State->Fire("async", {u"Top", u"Plant.Line2.Temp"});
  ASSERT_EQ(Pushes.size(), 2u);
  EXPECT_EQ(Pushes[1],
            Narrow(FakeText) + " 0 " + Narrow(HTop) + "|" + Narrow(HTemp) + " |<Unread Value> 0|0");
  EXPECT_EQ(Values({HTemp, HTop}), "<Unread Value>/0|7/0");

  // Rebuild for a new tag: remove the two items the group has, unadvise, and a new sink on the
  // new group.
  EXPECT_EQ(Values({HDev}), "/");
  EXPECT_EQ(TakeLog(),
            (std::vector<std::string>{"RemoveItems async 2", "Unadvise async", "RemoveGroup async",
                                      "AddGroup async 100", "AddItems async 3", "Advise async"}));
  State->Fire("async", {u"[Dev]Plant.Dev.Temp"});
  ASSERT_EQ(Pushes.size(), 3u);
  EXPECT_EQ(Values({HDev}), "9/1");
  EXPECT_TRUE(Server->UpdateOPCServersValues());
  EXPECT_EQ(Server->Disconnect(), 0);
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"Unadvise async", "RemoveGroup async"}));
}

TEST_F(OPCServerTest, WriteConversionsAndRefusals) {
  ASSERT_EQ(Server->Init(u"sync", 500), 0);
  EXPECT_EQ(Server->WriteOPCItemValue(HSet, u"12"), -13);  // before any getValues
  EXPECT_EQ(Values({HSet, HTop}), "/|/");
  for (const char16_t* Text : {u"12", u"12,5", u"12.5", u"$1F", u"on", u"1,2,3"})
    EXPECT_EQ(Server->WriteOPCItemValue(HSet, Text), 0);
  EXPECT_EQ(State->Writes,
            (std::vector<std::string>{"Plant.Line2.Set=I4:12", "Plant.Line2.Set=R8:12.500000",
                                      "Plant.Line2.Set=R8:12.500000", "Plant.Line2.Set=I4:31",
                                      "Plant.Line2.Set=BSTR:on", "Plant.Line2.Set=BSTR:1,2,3"}));
  State->RefusedWrites.insert(u"Top");
  EXPECT_EQ(Server->WriteOPCItemValue(HTop, u"1"), -14);
  EXPECT_EQ(Server->WriteOPCItemValue(HTemp, u"1"), -13);
  EXPECT_EQ(Server->Disconnect(), 0);
  EXPECT_EQ(Server->WriteOPCItemValue(HSet, u"1"), -13);  // arrays emptied

  // Asynchronous connections write through the "async" group, still synchronously.
  ASSERT_EQ(Server->Init(u"async", 500), 0);
  EXPECT_EQ(Values({HSet}), "/");
  EXPECT_EQ(Server->WriteOPCItemValue(HSet, u"-4"), 0);
  EXPECT_EQ(State->Writes.back(), "Plant.Line2.Set=I4:-4");
}

// A request whose group could not be built gets the error; so does every later one while the group
// is still missing, each building it again, new tags or not. Once built, answers come as usual.
TEST_F(OPCServerTest, GroupSetUpFailures) {
  ASSERT_EQ(Server->Init(u"sync", 500), 0);
  State->FailAddGroup = true;
  EXPECT_EQ(Values({HTop}), "error -7");
  EXPECT_EQ(Values({HTop}), "error -7");
  State->FailAddGroup = false;
  TakeLog();
  EXPECT_EQ(Values({HTop}), "/");
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"AddGroup sync 500", "AddItems sync 1"}));
  EXPECT_TRUE(Server->UpdateOPCServersValues());
  EXPECT_EQ(Values({HTop}), "7/1");
  EXPECT_TRUE(TakeLog().empty()) << "nothing new and the group in place: no rebuild";

  State->FailAddItems = true;
  EXPECT_EQ(Values({HTemp}), "error -8");
  EXPECT_EQ(Values({HTop}), "error -8");
  State->FailAddItems = false;
  // The failed AddItems left every item without a handle and so without its old value: the
  // rebuilt group's items read as never read until the next read of the group.
  EXPECT_EQ(Values({HTop, HTemp}), "/|/");
  EXPECT_TRUE(Server->UpdateOPCServersValues());
  EXPECT_EQ(Values({HTop}), "7/1");
  EXPECT_EQ(Server->Disconnect(), 0);

  State->FailAdvise = true;
  ASSERT_EQ(Server->Init(u"async", 500), 0);
  EXPECT_EQ(Values({HTop}), "error -9");
  EXPECT_EQ(Values({HTop}), "error -9");
  State->FailAdvise = false;
  TakeLog();
  EXPECT_EQ(Values({HTop}), "/");
  EXPECT_EQ(TakeLog().back(), "Advise async");
}

// A server that numbers its items from 0 and refuses some: a refused item has no handle (its
// result's handle, 0, is the first accepted item's), so it is never read, removed or written in
// another item's place, and reads as never read.
TEST_F(OPCServerTest, RefusedItemsGetNoHandle) {
  State->FirstItemHandle = 0;
  const std::u16string Unknown = u"not-a-tag";  // outside the tag table: an empty item identifier
  for (const char16_t* Mode : {u"sync", u"async"}) {
    SCOPED_TRACE(Narrow(Mode));
    const bool Sync = Mode == std::u16string(u"sync");
    const std::string Group = Sync ? "sync" : "async";
    State->SetValue(u"Plant.Line2.Set", 3);
    State->Writes.clear();
    ASSERT_EQ(Server->Init(Mode, 100), 0);
    EXPECT_EQ(Values({Unknown, HSet}), "/|/");
    EXPECT_EQ(Server->WriteOPCItemValue(Unknown, u"5"), -14);
    EXPECT_TRUE(State->Writes.empty()) << "nothing reaches handle 0, Set's";
    EXPECT_EQ(Server->WriteOPCItemValue(HSet, u"6"), 0);
    EXPECT_EQ(State->Writes, std::vector<std::string>{"Plant.Line2.Set=I4:6"});
    if (Sync) {
      State->ReadItems.clear();
      EXPECT_TRUE(Server->UpdateOPCServersValues());
      EXPECT_EQ(State->ReadItems, std::vector<std::string>{"Plant.Line2.Set|"});
    } else {
      State->Fire("async", {u"Plant.Line2.Set"});
    }
    EXPECT_EQ(Values({Unknown, HSet}), "/|3/1");

    // Set is refused when the group is rebuilt for Top: it loses its handle and its value.
    State->Values.erase(u"Plant.Line2.Set");
    TakeLog();
    EXPECT_EQ(Values({HTop}), "/");
    EXPECT_EQ(TakeLog().front(), "RemoveItems " + Group + " 1") << "only handles the server gave";
    if (Sync) {
      EXPECT_TRUE(Server->UpdateOPCServersValues());
    }
    EXPECT_EQ(Values({Unknown, HSet, HTop}), Sync ? "/|/|7/1" : "/|/|/");
    EXPECT_EQ(Server->WriteOPCItemValue(HSet, u"8"), -14);
    EXPECT_EQ(State->Writes.size(), 1u) << "Top has handle 0 now";
    EXPECT_EQ(Server->Disconnect(), 0);
  }
}

TEST_F(OPCServerTest, HealthCheckElevenStrikes) {
  ASSERT_EQ(Server->Init(u"sync", 500), 0);
  ASSERT_EQ(Server->GetTagsList(), 5);
  EXPECT_EQ(Values({HTop}), "/");
  TakeLog();
  State->StatusResult = E_FAIL;
  for (int I = 0; I < 10; ++I) EXPECT_TRUE(Server->UpdateOPCServersValues()) << I;
  State->StatusResult = S_OK;  // one healthy check starts the count again
  EXPECT_TRUE(Server->UpdateOPCServersValues());
  State->State = OPC_STATUS_FAILED;  // a state other than running fails too
  for (int I = 0; I < 10; ++I) EXPECT_TRUE(Server->UpdateOPCServersValues()) << I;
  EXPECT_TRUE(Server->IsOPCInit());
  EXPECT_TRUE(TakeLog().empty());
  EXPECT_FALSE(Server->UpdateOPCServersValues());  // the eleventh in a row
  EXPECT_FALSE(Server->IsOPCInit());
  EXPECT_EQ(TakeLog(), std::vector<std::string>{"RemoveGroup sync"});
  EXPECT_EQ(Server->GetOPCTagsArr().size(), 5u) << "the tag table is kept";
  EXPECT_EQ(Server->WriteOPCItemValue(HTop, u"1"), -13) << "the item arrays are emptied";
  State->State = OPC_STATUS_RUNNING;
  EXPECT_EQ(Server->Init(u"sync", 500), 0);
  EXPECT_EQ(Values({HTop}), "/");
}

TEST_F(OPCServerTest, DisconnectErrorStillDisconnects) {
  ASSERT_EQ(Server->Init(u"async", 500), 0);
  EXPECT_EQ(Values({HTop}), "/");
  State->FailRemoveGroup = true;
  EXPECT_EQ(Server->Disconnect(), -15);
  EXPECT_FALSE(Server->IsOPCInit());
  EXPECT_TRUE(Server->GetOPCTagsArr().empty());
  EXPECT_EQ(Server->WriteOPCItemValue(HTop, u"1"), -13);
  State->FailRemoveGroup = false;
  EXPECT_EQ(Server->Init(u"async", 500), 0);
}

}  // namespace
