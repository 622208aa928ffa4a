// Apartments: each client thread gets its callbacks on itself, and the in-process server works
// again after the runtime has unloaded it (the last CoUninitialize) and loads it anew.
#include "SimTestSupport.h"

namespace simtest {
namespace {

using namespace std::chrono_literals;

// One client session on the calling thread: subscribe to a fast counter, write, and wait for
// `changes` callbacks. Returns the threads the callbacks arrived on.
std::vector<std::thread::id> ClientSession(size_t changes, LONG written) {
  std::vector<std::thread::id> threads;
  CoInitialize(nullptr);
  {
    ComPtr<IOPCServer> server;
    EXPECT_EQ(CreateServer(kPlantServer, server), S_OK);
    if (server) {
      OPCHANDLE handle = 0;
      ComPtr<IOPCItemMgt> group = AddGroup(server.Get(), u"async", 20, &handle);
      std::vector<AddedItem> added;
      EXPECT_EQ(AddItems(group.Get(), {u"Diagnostics.Fast", u"Diagnostics.Integer"}, added), S_OK);
      TestSink* sink = new TestSink;
      DWORD cookie = 0;
      EXPECT_EQ(Advise(group.Get(), sink, cookie), S_OK);
      ComPtr<IOPCSyncIO> io;
      group.As(&io);
      VARIANT value = IntValue(written);
      HRESULT* errors = nullptr;
      EXPECT_EQ(io->Write(1, &added[1].server, &value, &errors), S_OK);
      CoTaskMemFree(errors);
      EXPECT_TRUE(PumpUntil([&] { return sink->changes.size() >= changes; }, 10s));
      for (const auto& change : sink->changes) threads.push_back(change.thread);
      EXPECT_EQ(Unadvise(group.Get(), cookie), S_OK);
      sink->Release();
      io.Reset();
      group.Reset();
      EXPECT_EQ(server->RemoveGroup(handle, FALSE), S_OK);
    }
  }
  CoUninitialize();
  return threads;
}

TEST(Apartments, EachClientThreadGetsItsOwnCallbacks) {
  EnsureServersAvailable();
  std::vector<std::thread::id> seen[2];
  std::thread::id ids[2];
  std::thread clients[2];
  for (int i = 0; i < 2; ++i) {
    clients[i] = std::thread([&, i] {
      ids[i] = std::this_thread::get_id();
      seen[i] = ClientSession(3, 1000 + i);
    });
  }
  for (std::thread& client : clients) client.join();
  for (int i = 0; i < 2; ++i) {
    ASSERT_GE(seen[i].size(), 3u) << i;
    for (const std::thread::id& id : seen[i]) EXPECT_EQ(id, ids[i]) << i;
  }
}

TEST(Apartments, ServerWorksAgainAfterTheRuntimeUnloadedIt) {
  for (int round = 0; round < 2; ++round) {
    const std::vector<std::thread::id> threads = ClientSession(2, round);
    ASSERT_GE(threads.size(), 2u) << "round " << round;
    EXPECT_EQ(threads[0], std::this_thread::get_id());
#ifdef _WIN32
    EXPECT_EQ(GetModuleHandleW(L"opcsim.dll"), nullptr) << "the runtime unloaded the server";
#endif
  }
}

}  // namespace
}  // namespace simtest
