// The reader thread on a real connection to a server on 127.0.0.1, with a recording router.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "CommTestSupport.h"
#include "FakeRouter.h"
#include "LinkClient.h"
#include "LoopbackServer.h"
#include "RequestThread.h"

namespace {

class RequestThreadTest : public ::testing::Test {
 protected:
  RequestThreadTest() {
    Log.SetLogEnabled(true);
    Client->Host = u"127.0.0.1";
    Client->Port = Server.Port();
    Client->ReadTimeout = 2000;
    Client->Connect();
    Peer = Server.Accept(5000);
  }

  std::unique_ptr<TRequestThread> MakeReader() {
    auto Reader = std::make_unique<TRequestThread>(true);
    Reader->SetTCPClientProp(Client);
    Reader->SetUidProp(u"uid-1");
    Reader->SetLoggerProp(&Log);
    Reader->SetRouterProp(&Router);
    Reader->SetTryReconnectProp([this] { ++Reconnects; });
    Reader->SetKillConnectProp([this] { ++Kills; });
    Reader->SetIncQueryProp([this] { ++Reads; });
    Reader->InitConnect();
    return Reader;
  }

  TLoopbackServer Server;
  std::shared_ptr<TLinkClient> Client = std::make_shared<TLinkClient>();
  std::unique_ptr<TServerPeer> Peer;
  std::shared_ptr<TFakeRouterState> State = std::make_shared<TFakeRouterState>();
  TFakeRouter Router{State};
  TLogger Log;
  std::atomic<int> Reads{0}, Reconnects{0}, Kills{0};
};

TEST_F(RequestThreadTest, RoutesLinesInOrderCountsEveryReadAndFailsOnClose) {
  ASSERT_TRUE(Peer);
  auto Reader = MakeReader();
  Reader->Start();
  Peer->Send("first\r\n\r\nsecond\n");
  ASSERT_TRUE(State->WaitCount("route:second", 1, 5000));
  Peer->Close();
  Reader->WaitFor();

  auto Calls = State->Snapshot();
  ASSERT_EQ(Calls.size(), 3u);  // the empty line is counted, not routed
  EXPECT_EQ(Calls[0], "route:first");
  EXPECT_EQ(Calls[1], "route:second");
  EXPECT_EQ(Calls[2], "none");
  EXPECT_GE(Reads.load(), 3);
  EXPECT_EQ(Kills.load(), 1);
  EXPECT_EQ(Reconnects.load(), 1);
  EXPECT_TRUE(Reader->IsTerminated());
  auto Lines = LogLines(Log);
  ASSERT_EQ(Lines.size(), 3u);
  EXPECT_EQ(Lines[0], "**********ERROR***********");
  EXPECT_EQ(Lines[1], "Connection Closed Gracefully.");
}

// How the failure path ends, by who caused it: the manager tearing down for a restart
// (TCPErrorFlag) keeps the client but still logs and reconnects; the final teardown
// (DestroyFlag) keeps quiet.
TEST_F(RequestThreadTest, FailurePathFollowsTheTeardownFlags) {
  struct TCase {
    bool TCPError, Destroy;
    int Kills, Reconnects;
    size_t LogLines;
  };
  const TCase Cases[] = {{true, false, 0, 1, 3}, {true, true, 0, 0, 0}, {false, true, 1, 0, 0}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(testing::Message() << "TCPError " << C.TCPError << " Destroy " << C.Destroy);
    Client = std::make_shared<TLinkClient>();
    Client->Host = u"127.0.0.1";
    Client->Port = Server.Port();
    Client->ReadTimeout = 2000;
    Client->Connect();
    Peer = Server.Accept(5000);
    ASSERT_TRUE(Peer);
    Log.Clear();
    Kills = Reconnects = 0;

    auto Reader = MakeReader();
    Reader->Start();
    if (C.TCPError) Reader->SetTCPError();
    if (C.Destroy) Reader->Disconnect();
    Client->Disconnect();
    Reader->WaitFor();
    EXPECT_EQ(Kills.load(), C.Kills);
    EXPECT_EQ(Reconnects.load(), C.Reconnects);
    EXPECT_EQ(LogLines(Log).size(), C.LogLines);
    EXPECT_TRUE(Reader->IsTerminated());
    // Calls that come after the thread has ended stay safe.
    Reader->SetTCPError();
    Reader->Disconnect();
  }
}

// The final teardown tells the reader to stop and cuts the connection while the reader is still
// routing; the lines it has already received must not be routed after that, or a flood of them
// holds up the close.
TEST_F(RequestThreadTest, ReaderToldToStopRoutesNoLineAlreadyReceived) {
  ASSERT_TRUE(Peer);
  State->HoldRouting = true;
  auto Reader = MakeReader();
  Reader->Start();
  Peer->Send("first\r\nsecond\r\nthird\r\n");
  ASSERT_TRUE(State->WaitCount("route:first", 1, 5000));
  Reader->SetTCPError();
  Reader->Disconnect();
  Client->Disconnect();
  State->ReleaseRouting();
  Reader->WaitFor();

  auto Calls = State->Snapshot();
  ASSERT_EQ(Calls.size(), 2u);
  EXPECT_EQ(Calls[0], "route:first");
  EXPECT_EQ(Calls[1], "none");
  EXPECT_EQ(Kills.load(), 0);
  EXPECT_EQ(Reconnects.load(), 0);
  EXPECT_TRUE(LogLines(Log).empty());
  EXPECT_TRUE(Reader->IsTerminated());
}

TEST_F(RequestThreadTest, IsTerminatedTurnsTrueOnlyAfterAMillionPollsOfAHealthyReader) {
  ASSERT_TRUE(Peer);
  auto Reader = MakeReader();
  Reader->Start();
  for (int I = 0; I < 1000000; ++I) ASSERT_FALSE(Reader->IsTerminated()) << I;
  EXPECT_TRUE(Reader->IsTerminated());
  Reader->InitConnect();
  EXPECT_FALSE(Reader->IsTerminated());
  Reader->Disconnect();
  Client->Disconnect();
}

}  // namespace
