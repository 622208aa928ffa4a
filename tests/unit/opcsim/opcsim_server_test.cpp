// Creating the simulated server by class identifier, its status, and browsing its address space.
#include <functional>

#include "SimTestSupport.h"

namespace simtest {
namespace {

using ServerTest = SimTest;

TEST_F(ServerTest, AnswersItsInterfacesAndReportsRunning) {
  ComPtr<IOPCCommon> common;
  ComPtr<IOPCBrowseServerAddressSpace> browser;
  ComPtr<IConnectionPointContainer> points;
  EXPECT_EQ(server_.As(&common), S_OK);
  EXPECT_EQ(server_.As(&browser), S_OK);
  EXPECT_EQ(server_.As(&points), S_OK);
  ComPtr<IOPCSyncIO> notOnServer;
  EXPECT_EQ(server_.As(&notOnServer), E_NOINTERFACE);

  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server_->GetStatus(&status), S_OK);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING);
  EXPECT_EQ(status->dwGroupCount, 0u);
  EXPECT_EQ(OleToU16(status->szVendorInfo), u"Tagrelay Tagrelay simulated OPC DA server");
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);

  LPWSTR text = nullptr;
  ASSERT_EQ(server_->GetErrorString(OPC_E_UNKNOWNITEMID, LOCALE_SYSTEM_DEFAULT, &text), S_OK);
  EXPECT_FALSE(OleToU16(text).empty());
  CoTaskMemFree(text);
  EXPECT_EQ(common->GetErrorString(static_cast<HRESULT>(0x80041234), &text), E_INVALIDARG);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(common->SetLocaleID(0x0407), E_INVALIDARG);
  EXPECT_EQ(common->SetClientName(OLESTR("test")), S_OK);
}

TEST_F(ServerTest, UnknownClassIsNotRegistered) {
  const CLSID unknown = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
  ComPtr<IOPCServer> none;
  EXPECT_EQ(CreateServer(unknown, none), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(none, nullptr);
}

// Walks the whole tree as a client does: leaves, then down into every branch and back up.
size_t CountLeaves(IOPCServer* server, std::vector<std::u16string>& refused) {
  std::vector<std::u16string> leaves, branches;
  EXPECT_EQ(SUCCEEDED(Browse(server, OPC_LEAF, leaves)), true);
  size_t count = leaves.size();
  Browse(server, OPC_BRANCH, branches);
  for (const std::u16string& branch : branches) {
    if (Move(server, OPC_BROWSE_DOWN, branch) != S_OK) {
      refused.push_back(branch);
      continue;
    }
    count += CountLeaves(server, refused);
    EXPECT_EQ(Move(server, OPC_BROWSE_UP, u""), S_OK);
  }
  return count;
}

TEST_F(ServerTest, HierarchicalWalkFindsEveryLeaf) {
  std::vector<std::u16string> refused;
  EXPECT_EQ(CountLeaves(server_.Get(), refused), kPlantLeaves);
  EXPECT_TRUE(refused.empty());
  std::vector<std::u16string> flat;
  EXPECT_EQ(Browse(server_.Get(), OPC_FLAT, flat), S_OK);
  EXPECT_EQ(flat.size(), kPlantLeaves);
  EXPECT_EQ(ItemId(server_.Get(), u""), u"") << "the walk ends at the root";
}

TEST_F(ServerTest, BrowsingFollowsTheRules) {
  IOPCServer* s = server_.Get();
  std::vector<std::u16string> names;
  EXPECT_EQ(Move(s, OPC_BROWSE_UP, u""), E_FAIL) << "up at the root";
  EXPECT_EQ(Move(s, OPC_BROWSE_DOWN, u"Heartbeat"), E_INVALIDARG) << "down into a leaf";
  EXPECT_EQ(Move(s, OPC_BROWSE_DOWN, u"Nowhere"), E_INVALIDARG);
  EXPECT_EQ(Browse(s, OPC_BRANCH, names), S_OK);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Plant", u"Utilities", u"Diagnostics"}));
  EXPECT_EQ(Browse(s, OPC_LEAF, names), S_OK);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Heartbeat", u"Status"}));

  ASSERT_EQ(Move(s, OPC_BROWSE_TO, u"Plant.Area2.Line3.Pump07"), S_OK);
  EXPECT_EQ(ItemId(s, u""), u"Plant.Area2.Line3.Pump07");
  EXPECT_EQ(ItemId(s, u"Speed"), u"Plant.Area2.Line3.Pump07.Speed");
  EXPECT_EQ(ItemId(s, u"Nothing"), u"<failed>");
  EXPECT_EQ(Browse(s, OPC_LEAF, names, u"", VT_EMPTY, OPC_WRITEABLE), S_OK);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Setpoint", u"Mode"}));
  EXPECT_EQ(Browse(s, OPC_LEAF, names, u"", VT_BOOL), S_OK);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Running"}));
  EXPECT_EQ(Browse(s, OPC_LEAF, names, u"*o*"), S_OK);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Setpoint", u"Hours", u"FaultCode", u"Mode"}));
  EXPECT_EQ(Browse(s, OPC_LEAF, names, u"Zz*"), S_FALSE) << "nothing matches: empty enumerator";
  EXPECT_TRUE(names.empty());

  ASSERT_EQ(Move(s, OPC_BROWSE_UP, u""), S_OK);
  EXPECT_EQ(Browse(s, OPC_BRANCH, names, u"Pump0#"), S_OK);
  EXPECT_EQ(names.size(), 9u);
  EXPECT_EQ(ItemId(s, u"Tank2"), u"Plant.Area2.Line3.Tank2") << "a branch name gives its ID";
  ASSERT_EQ(Move(s, OPC_BROWSE_DOWN, u"Tank2"), S_OK);
  EXPECT_EQ(ItemId(s, u"Volume.PV"), u"Plant.Area2.Line3.Tank2.Volume.PV");
  EXPECT_EQ(Move(s, OPC_BROWSE_TO, u""), S_OK);
  EXPECT_EQ(ItemId(s, u""), u"");
}

TEST_F(ServerTest, EnumeratorsKeepTheirListWhenThePositionMoves) {
  ComPtr<IOPCBrowseServerAddressSpace> browser;
  ASSERT_EQ(server_.As(&browser), S_OK);
  ComPtr<IEnumString> branches;
  ASSERT_EQ(browser->BrowseOPCItemIDs(OPC_BRANCH, OLESTR(""), VT_EMPTY, 0, &branches), S_OK);
  ASSERT_EQ(Move(server_.Get(), OPC_BROWSE_DOWN, u"Diagnostics"), S_OK);
  LPOLESTR names[4] = {};
  ULONG fetched = 0;
  EXPECT_EQ(branches->Next(4, names, &fetched), S_FALSE) << "three of four";
  ASSERT_EQ(fetched, 3u);
  EXPECT_EQ(OleToU16(names[0]), u"Plant");
  for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(names[i]);
  ComPtr<IEnumString> copy;
  ASSERT_EQ(branches->Clone(&copy), S_OK);
  EXPECT_EQ(copy->Skip(1), S_FALSE);
  EXPECT_EQ(branches->Reset(), S_OK);
  EXPECT_EQ(branches->Skip(2), S_OK);
}

TEST_F(ServerTest, DevicePrefixDottedLeavesAndARefusedBranch) {
  ComPtr<IOPCServer> edge = OpenServer(kEdgeServer);
  ASSERT_TRUE(edge);
  IOPCServer* s = edge.Get();
  std::vector<std::u16string> names;
  EXPECT_EQ(ItemId(s, u"Uptime"), u"[Dev]Uptime");
  ASSERT_EQ(Move(s, OPC_BROWSE_DOWN, u"Plant"), S_OK);
  EXPECT_EQ(Browse(s, OPC_LEAF, names), S_OK);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Temp.PV"}));
  EXPECT_EQ(ItemId(s, u"Temp.PV"), u"[Dev]Plant.Temp.PV");
  EXPECT_EQ(Browse(s, OPC_BRANCH, names), S_OK);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Line2", u"Locked", u"Line3"}));
  EXPECT_EQ(Move(s, OPC_BROWSE_DOWN, u"Locked"), E_FAIL);
  EXPECT_EQ(ItemId(s, u""), u"[Dev]Plant") << "a refused entry leaves the position alone";
  ASSERT_EQ(Move(s, OPC_BROWSE_DOWN, u"Line2"), S_OK);
  EXPECT_EQ(ItemId(s, u"Temp"), u"[Dev]Plant.Line2.Temp");
}

}  // namespace
}  // namespace simtest
