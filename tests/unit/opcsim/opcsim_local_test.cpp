// The simulator out of process: opcsim-server.exe reached through the real COM runtime and the
// test proxy/stub (opcps.dll). Every call that hands a string back is made on the in-process
// server and on the local one and must give the same text: the proxy self-test that guards the
// generated marshalling of [out] strings. Then the control interface across the boundary, the
// faults that end a server process, and a new process for the next activation.
#include <map>

#include "SimTestSupport.h"

namespace simtest {
namespace {

using namespace std::chrono_literals;

// The local classes: the in-process identifiers' first field plus one.
constexpr CLSID kLocalPlant = {
    0x12226D96, 0xF79B, 0x42B9, {0xBF, 0x2E, 0x69, 0x40, 0x8C, 0x20, 0xB1, 0x62}};

ComPtr<IOPCServer> Create(const CLSID& clsid, DWORD context) {
  ComPtr<IOPCServer> server;
  const HRESULT hr = CoCreateInstance(clsid, nullptr, context, IID_IOPCServer,
                                      reinterpret_cast<void**>(server.GetAddressOf()));
  EXPECT_EQ(hr, S_OK) << std::hex << hr;
  return server;
}

// Takes an [out] string: "<null>" when none came back.
std::u16string Take(LPWSTR text) {
  if (!text) return u"<null>";
  std::u16string copy = OleToU16(text);
  CoTaskMemFree(text);
  return copy;
}

// Every string the OPC interfaces return, by the call that returned it.
std::map<std::string, std::u16string> Strings(IOPCServer* server) {
  std::map<std::string, std::u16string> out;
  LPWSTR text = nullptr;
  server->GetErrorString(OPC_E_UNKNOWNITEMID, LOCALE_SYSTEM_DEFAULT, &text);
  out["IOPCServer::GetErrorString"] = Take(text);

  ComPtr<IOPCCommon> common;
  EXPECT_EQ(server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(common.GetAddressOf())),
            S_OK);
  text = nullptr;
  if (common) common->GetErrorString(E_FAIL, &text);
  out["IOPCCommon::GetErrorString"] = Take(text);

  OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(server->GetStatus(&status), S_OK);
  if (status) {
    out["GetStatus.szVendorInfo"] = Take(status->szVendorInfo);
    CoTaskMemFree(status);
  }

  EXPECT_EQ(Move(server, OPC_BROWSE_TO, u""), S_OK);
  EXPECT_EQ(Move(server, OPC_BROWSE_DOWN, u"Diagnostics"), S_OK);
  out["GetItemID(Text)"] = ItemId(server, u"Text");
  out["GetItemID(position)"] = ItemId(server, u"");
  std::vector<std::u16string> names;
  EXPECT_EQ(Browse(server, OPC_LEAF, names), S_OK);
  for (const auto& name : names) out["IEnumString::Next"] += name + u";";

  OPCHANDLE handle = 0;
  ComPtr<IOPCItemMgt> group = AddGroup(server, u"Gr\u00fc\u00dfe group", 100, &handle, 7);
  ComPtr<IOPCGroupStateMgt> state;
  if (group) group.As(&state);
  if (state) {
    DWORD rate = 0, lcid = 0;
    BOOL active = FALSE;
    LONG bias = 0;
    FLOAT deadband = 0;
    OPCHANDLE client = 0, serverHandle = 0;
    LPWSTR name = nullptr;
    EXPECT_EQ(state->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client,
                              &serverHandle),
              S_OK);
    out["IOPCGroupStateMgt::GetState.ppName"] = Take(name);
    EXPECT_EQ(client, 7u);
  }
  std::vector<AddedItem> added;
  if (group && SUCCEEDED(AddItems(group.Get(), {u"Diagnostics.Text"}, added))) {
    std::vector<ReadItem> read;
    EXPECT_EQ(Read(group.Get(), OPC_DS_DEVICE, {added[0].server}, read), S_OK);
    out["IOPCSyncIO::Read BSTR"] = read[0].text;
  }
  state.Reset();
  group.Reset();
  if (handle) server->RemoveGroup(handle, TRUE);
  return out;
}

class LocalServerTest : public ::testing::Test {
 protected:
  void SetUp() override { CoInitialize(nullptr); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(LocalServerTest, EveryOutStringCrossesTheProcessBoundary) {
  ComPtr<IOPCServer> inproc = Create(kPlantServer, CLSCTX_INPROC_SERVER);
  ComPtr<IOPCServer> local = Create(kLocalPlant, CLSCTX_LOCAL_SERVER);
  ASSERT_TRUE(inproc && local);
  const auto expected = Strings(inproc.Get());
  const auto got = Strings(local.Get());
  ASSERT_EQ(expected.size(), 8u);
  for (const auto& [call, text] : expected) {
    EXPECT_FALSE(text.empty() || text == u"<null>") << call << " (in process)";
    const auto it = got.find(call);
    ASSERT_NE(it, got.end()) << call;
    EXPECT_EQ(Narrow(it->second), Narrow(text)) << call;
  }
}

TEST_F(LocalServerTest, ControlInterfaceAndCallbacksReachTheOtherProcess) {
  ComPtr<IOPCServer> server = Create(kLocalPlant, CLSCTX_LOCAL_SERVER);
  ASSERT_TRUE(server);
  ComPtr<IOpcSimControl> control;
  ASSERT_EQ(server.As(&control), S_OK);
  ASSERT_EQ(control->SetFaults(OLESTR("{\"statusFailFrom\": 1, \"statusFailCount\": 0}")), S_OK);
  OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(server->GetStatus(&status), E_FAIL);
  EXPECT_EQ(status, nullptr);
  DWORD calls = 0;
  EXPECT_EQ(control->GetCallCount(OLESTR("GetStatus"), &calls), S_OK);
  EXPECT_EQ(calls, 1u);
  EXPECT_EQ(control->SetFaults(OLESTR("{\"statusState\": 9}")), E_INVALIDARG);

  // A data change from the server's process arrives on this thread while it pumps.
  ComPtr<IOPCItemMgt> group = AddGroup(server.Get(), u"", 50);
  ASSERT_TRUE(group);
  std::vector<AddedItem> added;
  ASSERT_EQ(AddItems(group.Get(), {u"Diagnostics.Integer"}, added), S_OK);  // a static value
  auto* sink = new TestSink;
  DWORD cookie = 0;
  ASSERT_EQ(Advise(group.Get(), sink, cookie), S_OK);
  VARIANT value = IntValue(4711);
  EXPECT_EQ(control->SetItemValue(OLESTR("Diagnostics.Integer"), &value, OPC_QUALITY_GOOD), S_OK);
  EXPECT_TRUE(PumpUntil(
      [&] {
        for (const auto& change : sink->changes)
          if (!change.texts.empty() && change.texts[0] == u"4711") return true;
        return false;
      },
      10s));
  EXPECT_EQ(Unadvise(group.Get(), cookie), S_OK);
  sink->Release();
}

// A server process that exits: every later call fails at once, and the next activation starts a
// new process (the class objects are single-use, so no dead registration is found).
TEST_F(LocalServerTest, AServerThatExitsIsStartedAgainByTheNextActivation) {
  ComPtr<IOPCServer> server = Create(kLocalPlant, CLSCTX_LOCAL_SERVER);
  ASSERT_TRUE(server);
  ComPtr<IOpcSimControl> control;
  ASSERT_EQ(server.As(&control), S_OK);
  ASSERT_EQ(control->SetFaults(OLESTR("{\"exitAfterCalls\": 2}")), S_OK);
  OPCSERVERSTATUS* status = nullptr;
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(server->GetStatus(&status), S_OK) << "call " << i + 1 << " is answered";
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    status = nullptr;
  }
  const HRESULT died = server->GetStatus(&status);
  EXPECT_TRUE(FAILED(died)) << std::hex << died;
  EXPECT_TRUE(FAILED(server->GetStatus(&status))) << "still gone";
  control.Reset();
  server.Reset();

  ComPtr<IOPCServer> again = Create(kLocalPlant, CLSCTX_LOCAL_SERVER);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->GetStatus(&status), S_OK);
  if (status) {
    EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
  }
}

}  // namespace
}  // namespace simtest
