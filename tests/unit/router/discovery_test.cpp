// Discovery of the OPC servers registered under HKEY_LOCAL_MACHINE\Software\Classes: natively in
// the in-memory tree, under Wine in the prefix's registry (keys of our own, with a name prefix).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "LogCapture.h"
#include "OPCDiscovery.h"
#include "Registry.h"
#include "RegistryFill.h"
#ifndef _WIN32
#include "RegistryStandIn.h"
#endif

namespace {

const std::u16string Classes = u"Software\\Classes\\";
const std::u16string Prefix = u"TgTest.";

std::vector<uint8_t> Bytes(const std::u16string& Text) {
  return RegistryFill::Utf16Bytes(Text);
}

// One program identifier key: its subkeys and, for a "CLSID"-like subkey, its default value.
struct TKeyDef {
  std::u16string Name;
  std::vector<std::u16string> Subkeys;
  uint32_t ClassIdType = RegNone;  // RegNone: no default value on the class identifier subkey
  std::vector<uint8_t> ClassId;
};

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegistryFill::CreateKey(u"Software\\Classes");
    Clean();
  }
  void TearDown() override { Clean(); }

  void Clean() {
    for (const char16_t* Name : {u"0", u"A", u"B", u"C", u"D", u"D.1", u"E", u"F", u"G", u"H", u"I",
                                 u"J", u"K", u"L", u"M"})
      RegistryFill::DeleteKey(Classes + Prefix + Name);
  }

  void Add(const TKeyDef& Def) {
    const std::u16string Key = Classes + Prefix + Def.Name;
    ASSERT_TRUE(RegistryFill::CreateKey(Key));
    for (const auto& Sub : Def.Subkeys) {
      ASSERT_TRUE(RegistryFill::CreateKey(Key + u"\\" + Sub));
      const bool IsClassId = Sub.size() == 5 && (Sub[0] == u'C' || Sub[0] == u'c');
      if (IsClassId && Def.ClassIdType != RegNone) {
        ASSERT_TRUE(RegistryFill::SetDefaultValue(Key + u"\\" + Sub, Def.ClassIdType, Def.ClassId));
      }
    }
  }

  // The walk's result, limited to this test's keys.
  TOPCServers Walk(TLogger* Logger = nullptr) {
    TOPCServers Ours;
    for (auto& Entry : WalkOPCServers(Logger))
      if (Entry.Name.starts_with(Prefix)) Ours.push_back(Entry);
    return Ours;
  }
};

TEST_F(DiscoveryTest, FindsKeysWithOPCAndAStringClassIdFirstFoundWinning) {
  const uint32_t Sz = RegSz;
  const TKeyDef Keys[] = {
      {u"A", {u"OPC", u"CLSID"}, Sz, Bytes(std::u16string(u"{A}\0", 4))},
      {u"B", {u"opc", u"Clsid", u"Other"}, Sz, Bytes(std::u16string(u"{B}\0", 4))},
      {u"C", {u"OPC"}, RegNone, {}},                                         // no CLSID
      {u"D.1", {u"OPC", u"CLSID"}, Sz, Bytes(std::u16string(u"{D}\0", 4))},  // listed after D
      {u"D", {u"OPC", u"CLSID"}, Sz, Bytes(std::u16string(u"{D}\0", 4))},
      {u"E", {u"OPC", u"CLSID"}, Sz, Bytes(std::u16string(u"{E}\0junk\0", 9))},  // up to the NUL
      {u"F", {u"OPC", u"CLSID"}, Sz, Bytes(u"{F}")},                             // no NUL stored
      {u"G", {u"OPC", u"CLSID"}, RegExpandSz, Bytes(std::u16string(u"%G%\0", 4))},
      {u"H", {u"OPC", u"CLSID"}, RegDword, {1, 0, 0, 0}},  // not a string: only H is skipped
      {u"I", {u"OPC", u"CLSID"}, RegBinary, Bytes(u"{I}")},
      {u"J", {u"OPC", u"CLSID"}, Sz, Bytes(std::u16string(u"\0", 1))},  // empty class identifier
      {u"K", {u"OPC", u"CLSID"}, RegNone, {}},                          // no default value
      {u"L", {u"CLSID"}, Sz, Bytes(std::u16string(u"{L}\0", 4))},       // no OPC
      {u"M", {u"OPC", u"CLSID"}, Sz, Bytes(std::u16string(u"{M}\0", 4))},
  };
  for (const auto& Key : Keys) Add(Key);

  const TOPCServers Expected = {
      {Prefix + u"A", u"{A}"}, {Prefix + u"B", u"{B}"}, {Prefix + u"D", u"{D}"},
      {Prefix + u"E", u"{E}"}, {Prefix + u"F", u"{F}"}, {Prefix + u"G", u"%G%"},
      {Prefix + u"M", u"{M}"},
  };
  const TOPCServers Found = Walk();
  ASSERT_EQ(Found.size(), Expected.size());
  for (size_t I = 0; I < Found.size(); ++I) {
    EXPECT_EQ(Found[I].Name, Expected[I].Name) << I;
    EXPECT_EQ(Found[I].GUID, Expected[I].GUID) << I;
  }
}

TEST_F(DiscoveryTest, LogsTheStartAndAnEmptyDoneEntry) {
  TLogCapture Log;
  Add({u"A", {u"OPC", u"CLSID"}, RegSz, Bytes(std::u16string(u"{A}\0", 4))});
  EXPECT_EQ(Walk(Log.Logger()).size(), 1u);
  EXPECT_EQ(Log.Lines(),
            TLogCapture::LinesOf({{LogInfo, u"Observing OPC servers...", 0}, {LogDone, u"", 0}}));
}

// The cache gives what a fresh walk gives at that moment, reading the registry only after
// something under the classes key changed.
class ServerCacheTest : public DiscoveryTest {
 protected:
  TOPCServers Cached() {
    return Cache.Servers(
        [this](int32_t Cmd, const std::u16string& Text) { Log.Logger()->ToLog(Cmd, Text, 0); });
  }
  void TearDown() override {
    RegistryFill::DeleteKey(u"Software\\TagrelayCacheTest");
    DiscoveryTest::TearDown();
  }
  TOPCServerCache Cache;
  TLogCapture Log;
};

const std::vector<uint8_t> ClassIdA = Bytes(std::u16string(u"{A}\0", 4));

TEST_F(ServerCacheTest, WithoutChangesTheLastWalkIsReusedAndLoggedTheSame) {
  Add({u"A", {u"OPC", u"CLSID"}, RegSz, ClassIdA});
  const TOPCServers First = Cached();
  EXPECT_EQ(First, WalkOPCServers(nullptr));
  const uint64_t Walks = Cache.Walks();
  EXPECT_EQ(Cached(), First);
  // Changes outside the classes key do not count.
  ASSERT_TRUE(RegistryFill::SetDefaultString(u"Software\\TagrelayCacheTest\\Sub", u"x"));
  EXPECT_EQ(Cached(), First);
  EXPECT_EQ(Cache.Walks(), Walks);
  const auto Round =
      TLogCapture::LinesOf({{LogInfo, u"Observing OPC servers...", 0}, {LogDone, u"", 0}});
  std::vector<std::u16string> Expected;
  for (int I = 0; I < 3; ++I) Expected.insert(Expected.end(), Round.begin(), Round.end());
  EXPECT_EQ(Log.Lines(), Expected);
}

TEST_F(ServerCacheTest, AnyChangeUnderTheClassesKeyMakesTheNextCallWalkAgain) {
  Add({u"A", {u"OPC", u"CLSID"}, RegSz, ClassIdA});
  Cached();
  const std::u16string A = Classes + Prefix + u"A";
  struct Change {
    const char* What;
    std::function<void()> Make;
  };
  const Change Changes[] = {
      {"server added",
       [&] {
         Add({u"B", {u"OPC", u"CLSID"}, RegSz, Bytes(u"{B}")});
       }},
      {"class identifier changed",
       [&] { RegistryFill::SetDefaultString(A + u"\\CLSID", u"{A2}"); }},
      {"unrelated key deep down",
       [&] { RegistryFill::CreateKey(Classes + Prefix + u"C\\shell\\open"); }},
      {"OPC key removed", [&] { RegistryFill::DeleteKey(A + u"\\OPC"); }},
      {"server removed", [&] { RegistryFill::DeleteKey(Classes + Prefix + u"B"); }},
  };
  for (const Change& C : Changes) {
    const uint64_t Before = Cache.Walks();
    C.Make();
    EXPECT_EQ(Cached(), WalkOPCServers(nullptr)) << C.What;
    EXPECT_EQ(Cache.Walks(), Before + 1) << C.What;
    Cached();
    EXPECT_EQ(Cache.Walks(), Before + 1) << C.What;  // and reused after that walk
  }
}

#ifndef _WIN32
TEST_F(ServerCacheTest, AChangeDuringTheWalkIsSeenByTheNextCall) {
  Add({u"A", {u"OPC", u"CLSID"}, RegSz, ClassIdA});
  bool Done = false;
  RegistryStandIn::SetOpenHook([&](const std::u16string& Path) {
    if (Done || Path != Classes + Prefix + u"A") return;
    Done = true;  // the walk is past "TgTest.0"'s place now
    Add({u"0", {u"OPC", u"CLSID"}, RegSz, Bytes(u"{0}")});
  });
  const TOPCServers During = Cached();
  RegistryStandIn::SetOpenHook(nullptr);
  EXPECT_TRUE(
      std::none_of(During.begin(), During.end(), [](const auto& E) { return E.GUID == u"{0}"; }));
  const TOPCServers After = Cached();
  EXPECT_EQ(After, WalkOPCServers(nullptr));
  EXPECT_TRUE(
      std::any_of(After.begin(), After.end(), [](const auto& E) { return E.GUID == u"{0}"; }));
  RegistryFill::DeleteKey(Classes + Prefix + u"0");
}

TEST_F(ServerCacheTest, AFailedWalkIsNotReused) {
  RegistryStandIn::Clear();
  EXPECT_TRUE(Cached().empty());
  EXPECT_TRUE(Cached().empty());
  const auto Failed = TLogCapture::LinesOf(
      {{LogInfo, u"Observing OPC servers...", 0}, {LogError, u"Cannot observe OPC servers", 0}});
  std::vector<std::u16string> Expected = Failed;
  Expected.insert(Expected.end(), Failed.begin(), Failed.end());
  EXPECT_EQ(Log.Lines(), Expected);
  RegistryFill::CreateKey(u"Software\\Classes");
  Add({u"A", {u"OPC", u"CLSID"}, RegSz, ClassIdA});
  EXPECT_EQ(Cached(), (TOPCServers{{Prefix + u"A", u"{A}"}}));
}

TEST_F(DiscoveryTest, KeysThatCannotBeOpenedAreSkipped) {
  Add({u"A", {u"OPC", u"CLSID"}, RegSz, Bytes(std::u16string(u"{A}\0", 4))});
  Add({u"B", {u"OPC", u"CLSID"}, RegSz, Bytes(std::u16string(u"{B}\0", 4))});
  Add({u"C", {u"OPC", u"CLSID"}, RegSz, Bytes(std::u16string(u"{C}\0", 4))});
  RegistryStandIn::SetOpenRefused(Classes + Prefix + u"A", true);
  RegistryStandIn::SetOpenRefused(Classes + Prefix + u"B\\CLSID", true);
  const TOPCServers Found = Walk();
  ASSERT_EQ(Found.size(), 1u);
  EXPECT_EQ(Found[0].GUID, u"{C}");
}

TEST_F(DiscoveryTest, WithoutTheClassesKeyNothingIsFoundAndTheFailureIsLogged) {
  RegistryStandIn::Clear();
  TLogCapture Log;
  EXPECT_TRUE(WalkOPCServers(Log.Logger()).empty());
  EXPECT_EQ(Log.Lines(), TLogCapture::LinesOf({{LogInfo, u"Observing OPC servers...", 0},
                                               {LogError, u"Cannot observe OPC servers", 0}}));
}
#endif

}  // namespace
