// Data-change callbacks: made on the client's own thread, from the timer while the thread pumps
// messages and during the client's calls into the server; only changed items after the first.
#include "SimTestSupport.h"

namespace simtest {
namespace {

using namespace std::chrono_literals;
using CallbackTest = SimTest;

struct Subscription {
  ComPtr<IOPCItemMgt> group;
  std::vector<AddedItem> items;
  TestSink* sink = new TestSink;  // the test's reference, released in the destructor
  DWORD cookie = 0;
  ~Subscription() { sink->Release(); }
};

void Subscribe(IOPCServer* server, Subscription& s, const std::vector<std::u16string>& ids,
               DWORD rate, const std::vector<VARTYPE>& requested = {}) {
  s.group = AddGroup(server, u"async", rate, nullptr, 7);
  ASSERT_TRUE(SUCCEEDED(AddItems(s.group.Get(), ids, s.items, requested)));
  ASSERT_EQ(Advise(s.group.Get(), s.sink, s.cookie), S_OK);
}

TEST_F(CallbackTest, TimerCallbacksArriveOnTheClientThreadWithChangesOnly) {
  Subscription s;
  Subscribe(
      server_.Get(), s,
      {u"Diagnostics.Integer", u"Diagnostics.Text", u"Diagnostics.Flag", u"Diagnostics.WriteOnly"},
      50);
  EXPECT_TRUE(s.sink->changes.empty()) << "nothing before the thread pumps or calls in";
  ASSERT_TRUE(PumpUntil([&] { return !s.sink->changes.empty(); }, 5s));
  const TestSink::Change& first = s.sink->changes[0];
  EXPECT_EQ(first.thread, std::this_thread::get_id());
  EXPECT_EQ(first.transid, 0u);
  EXPECT_EQ(first.group, 7u) << "the client's group handle";
  EXPECT_EQ(first.handles, (std::vector<OPCHANDLE>{100, 101, 102}));
  EXPECT_EQ(first.texts, (std::vector<std::u16string>{u"42", u"Gr\u00fc\u00dfe", u"True"}));
  EXPECT_EQ(first.qualities, (std::vector<WORD>{0xC0, 0xC0, 0xC0}));
  EXPECT_EQ(first.masterQuality, S_OK);
  EXPECT_EQ(first.masterError, S_OK);
  FILETIME now;
  CoFileTimeNow(&now);
  const uint64_t nowTicks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  for (uint64_t time : first.times) {
    EXPECT_GT(time, 133000000000000000ull) << "a real UTC time stamp";
    EXPECT_LE(time, nowTicks);
  }

  VARIANT value = IntValue(43);
  ASSERT_EQ(control_->SetItemValue(OLESTR("Diagnostics.Integer"), &value, OPC_QUALITY_GOOD), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return s.sink->changes.size() >= 2; }, 5s));
  const TestSink::Change& second = s.sink->changes[1];
  EXPECT_EQ(second.thread, std::this_thread::get_id());
  EXPECT_EQ(second.handles, (std::vector<OPCHANDLE>{100}));
  EXPECT_EQ(second.texts, (std::vector<std::u16string>{u"43"}));
  PumpFor(200ms);
  EXPECT_EQ(s.sink->changes.size(), 2u) << "no change, no callback";

  EXPECT_EQ(Unadvise(s.group.Get(), s.cookie), S_OK);
  EXPECT_EQ(s.sink->References(), 1u) << "the server let go of the sink";
  ASSERT_EQ(control_->SetItemValue(OLESTR("Diagnostics.Integer"), &value, OPC_QUALITY_BAD), S_OK);
  PumpFor(200ms);
  EXPECT_EQ(s.sink->changes.size(), 2u);
}

TEST_F(CallbackTest, CallbacksArriveDuringCallsIntoTheServer) {
  Subscription s;
  Subscribe(server_.Get(), s, {u"Diagnostics.Integer"}, 10);
  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server_->GetStatus(&status), S_OK);  // no pumping: the call itself delivers
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
  ASSERT_EQ(s.sink->changes.size(), 1u);
  EXPECT_EQ(s.sink->changes[0].thread, std::this_thread::get_id());

  VARIANT value = IntValue(44);
  ASSERT_EQ(control_->SetItemValue(OLESTR("Diagnostics.Integer"), &value, 0x14), S_OK);
  std::this_thread::sleep_for(30ms);
  std::vector<ReadItem> read;
  Read(s.group.Get(), OPC_DS_CACHE, {s.items[0].server}, read);
  ASSERT_EQ(s.sink->changes.size(), 2u);
  EXPECT_EQ(s.sink->changes[1].texts, (std::vector<std::u16string>{u"44"}));
  EXPECT_EQ(s.sink->changes[1].qualities, (std::vector<WORD>{0x14}));
  EXPECT_EQ(s.sink->changes[1].masterQuality, S_FALSE);
}

TEST_F(CallbackTest, ConversionFailuresAndArraysInCallbacks) {
  Subscription s;
  Subscribe(server_.Get(), s,
            {u"Diagnostics.Small", u"Diagnostics.Vector", u"Diagnostics.Constant"}, 10,
            {VT_UI1, VT_EMPTY, VT_EMPTY});
  VARIANT negative = IntValue(-5);
  ASSERT_EQ(control_->SetItemValue(OLESTR("Diagnostics.Small"), &negative, OPC_QUALITY_GOOD), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return !s.sink->changes.empty(); }, 5s));
  const TestSink::Change& change = s.sink->changes[0];
  ASSERT_EQ(change.handles.size(), 3u);
  EXPECT_EQ(change.errors[0], DISP_E_OVERFLOW) << "-5 does not fit the requested UI1";
  EXPECT_EQ(change.qualities[0], OPC_QUALITY_BAD);
  EXPECT_TRUE(FAILED(change.textResults[1])) << "an array value has no text";
  EXPECT_EQ(change.qualities[2], 0xC3);
  EXPECT_EQ(change.masterError, S_FALSE);
  EXPECT_EQ(change.masterQuality, S_FALSE);
}

TEST_F(CallbackTest, ConnectionPointRules) {
  Subscription s;
  Subscribe(server_.Get(), s, {u"Diagnostics.Integer"}, 100);
  DWORD again = 0;
  TestSink* other = new TestSink;
  EXPECT_EQ(Advise(s.group.Get(), other, again), CONNECT_E_ADVISELIMIT);
  other->Release();
  EXPECT_EQ(Unadvise(s.group.Get(), s.cookie + 1), CONNECT_E_NOCONNECTION);

  ComPtr<IConnectionPointContainer> groupPoints, serverPoints;
  ASSERT_EQ(s.group.As(&groupPoints), S_OK);
  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(groupPoints->FindConnectionPoint(IID_IOPCShutdown, &point), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(server_.As(&serverPoints), S_OK);
  EXPECT_EQ(serverPoints->FindConnectionPoint(IID_IOPCShutdown, &point), S_OK);
  IID iid{};
  EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualIID(iid, IID_IOPCShutdown));
  EXPECT_EQ(Unadvise(s.group.Get(), s.cookie), S_OK);
}

}  // namespace
}  // namespace simtest
