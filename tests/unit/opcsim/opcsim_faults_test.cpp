// Every fault switch, as a test sets it through IOpcSimControl, and a client that frees by the
// COM rules leaving no simulator object behind.
#include "SimTestSupport.h"

namespace simtest {
namespace {

using namespace std::chrono_literals;
using FaultsTest = SimTest;

HRESULT StatusState(IOPCServer* server, OPCSERVERSTATE& state) {
  OPCSERVERSTATUS* status = nullptr;
  const HRESULT hr = server->GetStatus(&status);
  if (FAILED(hr)) {
    EXPECT_EQ(status, nullptr);
    return hr;
  }
  state = status->dwServerState;
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
  return hr;
}

TEST_F(FaultsTest, GetStatusFailsFromTheNthCallAndRecovers) {
  ASSERT_EQ(control_->SetFaults(OLESTR("{\"statusFailFrom\": 3, \"statusFailCount\": 2}")), S_OK);
  const HRESULT expected[] = {S_OK, S_OK, E_FAIL, E_FAIL, S_OK, S_OK};
  for (HRESULT hr : expected) {
    OPCSERVERSTATE state = OPC_STATUS_TEST;
    EXPECT_EQ(StatusState(server_.Get(), state), hr);
    if (SUCCEEDED(hr)) {
      EXPECT_EQ(state, OPC_STATUS_RUNNING);
    }
  }
  ASSERT_EQ(control_->SetFaults(OLESTR("{\"statusFailFrom\": 1, \"statusFailCount\": 0, "
                                       "\"statusFailMode\": \"state\", \"statusState\": 4}")),
            S_OK);
  for (int i = 0; i < 3; ++i) {
    OPCSERVERSTATE state = OPC_STATUS_RUNNING;
    EXPECT_EQ(StatusState(server_.Get(), state), S_OK);
    EXPECT_EQ(state, OPC_STATUS_SUSPENDED);
  }
  EXPECT_EQ(control_->SetFaults(OLESTR("{\"statusState\": 9}")), E_INVALIDARG);
  DWORD calls = 0;
  EXPECT_EQ(control_->GetCallCount(OLESTR("GetStatus"), &calls), S_OK);
  EXPECT_EQ(calls, 9u);
}

TEST_F(FaultsTest, SwitchesRefuseTheirCalls) {
  std::vector<std::u16string> names;
  ASSERT_EQ(control_->SetFaults(OLESTR("{\"rootLeavesFail\": true}")), S_OK);
  EXPECT_EQ(Browse(server_.Get(), OPC_LEAF, names), E_FAIL);
  EXPECT_EQ(Browse(server_.Get(), OPC_BRANCH, names), S_OK) << "only leaves at the root fail";
  ASSERT_EQ(Move(server_.Get(), OPC_BROWSE_DOWN, u"Diagnostics"), S_OK);
  EXPECT_EQ(Browse(server_.Get(), OPC_LEAF, names), S_OK);
  ASSERT_EQ(Move(server_.Get(), OPC_BROWSE_UP, u""), S_OK);

  ASSERT_EQ(control_->SetBranchRefusesEntry(OLESTR("Utilities"), TRUE), S_OK);
  EXPECT_EQ(Move(server_.Get(), OPC_BROWSE_DOWN, u"Utilities"), E_FAIL);

  ComPtr<IOPCItemMgt> group = AddGroup(server_.Get(), u"before", 1000);
  ASSERT_EQ(control_->SetFaults(OLESTR("{\"addGroupFails\": true}")), S_OK);
  OPCHANDLE handle = 5;
  DWORD revised = 5;
  ComPtr<IUnknown> none;
  EXPECT_EQ(server_->AddGroup(OLESTR("x"), TRUE, 1000, 0, nullptr, nullptr, 0, &handle, &revised,
                              IID_IOPCItemMgt, &none),
            E_FAIL);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(handle, 0u);

  ASSERT_EQ(control_->SetFaults(OLESTR("{\"addGroupFails\": false, \"addItemsFails\": true}")),
            S_OK);
  std::vector<AddedItem> added;
  EXPECT_EQ(AddItems(group.Get(), {u"Diagnostics.Integer"}, added), E_FAIL);

  ASSERT_EQ(control_->SetFaults(OLESTR("{\"addItemsFails\": false, \"adviseFails\": true}")), S_OK);
  ASSERT_EQ(AddItems(group.Get(), {u"Diagnostics.Integer"}, added), S_OK);
  TestSink* sink = new TestSink;
  DWORD cookie = 0;
  EXPECT_TRUE(FAILED(Advise(group.Get(), sink, cookie)));
  EXPECT_EQ(sink->References(), 1u) << "a refused sink is not kept";
  sink->Release();

  ASSERT_EQ(control_->SetItemRefusesWrites(OLESTR("Diagnostics.Integer"), TRUE), S_OK);
  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(group.As(&io), S_OK);
  VARIANT value = IntValue(1);
  HRESULT* errors = nullptr;
  EXPECT_EQ(io->Write(1, &added[0].server, &value, &errors), S_FALSE);
  EXPECT_EQ(errors[0], E_FAIL);
  CoTaskMemFree(errors);

  ASSERT_EQ(control_->SetFaults(OLESTR("{\"browserMissing\": true}")), S_OK);
  ComPtr<IOPCBrowseServerAddressSpace> browser;
  EXPECT_EQ(server_.As(&browser), E_NOINTERFACE);
}

TEST_F(FaultsTest, CallDelayHoldsEveryCall) {
  ASSERT_EQ(control_->SetFaults(OLESTR("{\"callDelayMs\": 150}")), S_OK);
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::u16string> names;
  Browse(server_.Get(), OPC_BRANCH, names);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms) << "a hung server answers late";
}

TEST_F(FaultsTest, ResetRestoresTheConfiguredServer) {
  ASSERT_EQ(control_->SetFaults(OLESTR("{\"statusFailFrom\": 1}")), S_OK);
  VARIANT value = IntValue(5);
  ASSERT_EQ(control_->SetItemValue(OLESTR("Diagnostics.Integer"), &value, 0), S_OK);
  ASSERT_EQ(control_->Reset(), S_OK);
  OPCSERVERSTATE state = OPC_STATUS_FAILED;
  EXPECT_EQ(StatusState(server_.Get(), state), S_OK);
  ComPtr<IOPCItemMgt> group = AddGroup(server_.Get(), u"g", 1000);
  std::vector<AddedItem> added;
  ASSERT_EQ(AddItems(group.Get(), {u"Diagnostics.Integer"}, added), S_OK);
  std::vector<ReadItem> read;
  Read(group.Get(), OPC_DS_DEVICE, {added[0].server}, read);
  EXPECT_EQ(read[0].text, u"42");
  EXPECT_EQ(read[0].quality, OPC_QUALITY_GOOD);

  EXPECT_EQ(control_->Configure(OLESTR("{\"progId\": \"P\", \"clsid\": "
                                       "\"{12226D95-F79B-42B9-BF2E-69408C20B162}\", \"tree\": "
                                       "[{\"leaf\": \"Only\", \"type\": \"I2\", \"value\": 3}]}")),
            S_OK);
  std::vector<std::u16string> names;
  EXPECT_EQ(Browse(server_.Get(), OPC_LEAF, names), S_OK);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Only"}));
  EXPECT_EQ(control_->Configure(OLESTR("{\"tree\": 5}")), E_INVALIDARG);
  ASSERT_EQ(control_->Reset(), S_OK);
}

TEST_F(FaultsTest, ClientThatFreesByTheRulesLeavesNoObjects) {
  DWORD before = 0;
  ASSERT_EQ(control_->GetLiveObjects(&before), S_OK);
  {
    ComPtr<IOPCServer> other = OpenServer(kPlantServer);
    std::vector<std::u16string> names;
    Browse(other.Get(), OPC_FLAT, names);
    OPCHANDLE handle = 0;
    ComPtr<IOPCItemMgt> group = AddGroup(other.Get(), u"g", 10, &handle);
    std::vector<AddedItem> added;
    AddItems(group.Get(), {u"Diagnostics.Text", u"Diagnostics.Vector", u"Diagnostics.Names"},
             added);
    std::vector<ReadItem> read;
    Read(group.Get(), OPC_DS_DEVICE, {added[0].server, added[1].server, added[2].server}, read);
    TestSink* sink = new TestSink;
    DWORD cookie = 0;
    ASSERT_EQ(Advise(group.Get(), sink, cookie), S_OK);
    PumpUntil([&] { return !sink->changes.empty(); }, 5s);
    EXPECT_EQ(Unadvise(group.Get(), cookie), S_OK);
    sink->Release();
    group.Reset();
    EXPECT_EQ(other->RemoveGroup(handle, FALSE), S_OK);
  }
  DWORD after = 0;
  ASSERT_EQ(control_->GetLiveObjects(&after), S_OK);
  EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace simtest
