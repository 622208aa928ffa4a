// The link's manager against a SCADA-side server on 127.0.0.1, with a recording router.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "CommTestSupport.h"
#include "Communicate.h"
#include "FakeRouter.h"
#include "HangingListener.h"
#include "LoopbackServer.h"
#include "TestPeer.h"

namespace {

const std::string Greeting = "{\"cmd\":\"serverOnline\"}";
const std::string StartLine = "Start and initialize client...";
const std::string ErrorHead = "**********ERROR***********";
// One timer wait and an attempt, with room for slow sanitizer and Wine runs.
constexpr int NextAttemptMs = 12000;

class CommunicateTest : public ::testing::Test {
 protected:
  CommunicateTest() { Log.SetLogEnabled(true); }
  ~CommunicateTest() override { Comm.reset(); }

  // Creates the manager and hands over the settings in the main window's order.
  void StartLink(uint16_t Port, bool SSLSecure = false) {
    Comm = std::make_unique<TCommunicate>(std::make_unique<TFakeRouter>(State));
    Comm->SetHostProp(u"127.0.0.1");
    Comm->SetPortProp(Port);
    Comm->SetUidProp(u"uid-1");
    Comm->SetLoggerProp(&Log);
    Comm->SetSSLSecureProp(SSLSecure);
    Comm->SetIncQueryProp([this] { ++Reads; });
  }

  // Milliseconds the final teardown takes.
  long long CloseMs() {
    auto Begin = std::chrono::steady_clock::now();
    Comm->Disconnect(false);
    Comm.reset();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 Begin)
        .count();
  }

  std::shared_ptr<TFakeRouterState> State = std::make_shared<TFakeRouterState>();
  TLogger Log;
  std::atomic<int> Reads{0};
  std::unique_ptr<TCommunicate> Comm;
};

// The reader is already reading when the router greets (a line the server sends first is routed
// while InitConnect waits for it), and "Connect to host" is the last entry of the attempt.
TEST_F(CommunicateTest, FirstConnectionGreetsAfterReaderStartsAndLogsConnectLast) {
  State->InitWaitsForFirstLine = true;
  TLoopbackServer Server;
  StartLink(Server.Port());

  auto Peer = Server.Accept(NextAttemptMs);
  ASSERT_TRUE(Peer);
  Peer->Send("hello\r\n");
  std::string Line;
  ASSERT_TRUE(Peer->ReadLine(Line, 8000));
  EXPECT_EQ(Line, Greeting);
  ASSERT_TRUE(WaitLogCount(Log, "Done Connect to host", 1, 5000));

  auto Calls = State->Snapshot();
  auto Position = [&](const std::string& Call) {
    return std::find(Calls.begin(), Calls.end(), Call) - Calls.begin();
  };
  ASSERT_LT(Position("greet"), static_cast<long>(Calls.size()));
  EXPECT_LT(Position("client"), Position("init"));
  // Routed while InitConnect waited for it: the reader was reading before the greeting.
  EXPECT_LT(Position("init"), Position("greet"));
  EXPECT_LT(Position("route:hello"), Position("greet"));
  EXPECT_GE(Reads.load(), 1);

  auto Lines = LogLines(Log);
  int Start = LineIndex(Lines, StartLine);
  int Greeted = LineIndex(Lines, "Done GetListServers");
  int Connected = LineIndex(Lines, "Done Connect to host");
  EXPECT_EQ(Start, 0);
  EXPECT_GT(Greeted, Start);
  EXPECT_GT(Connected, Greeted);
  EXPECT_EQ(LineCount(Lines, ErrorHead), 0);
}

TEST_F(CommunicateTest, UnreachableServerIsRetriedWithTheSocketErrorAndNoReader) {
  StartLink(TLoopbackServer::UnusedPort());

  ASSERT_TRUE(WaitLogCount(Log, "Connection refused.", 2, 2 * NextAttemptMs));
  auto Lines = LogLines(Log);
  int First = LineIndex(Lines, StartLine);
  ASSERT_GE(First, 0);
  EXPECT_EQ(Lines[First + 1], ErrorHead);
  EXPECT_EQ(Lines[First + 2], "Socket Error # 10061");
  EXPECT_EQ(Lines[First + 3], "Connection refused.");
  EXPECT_GE(LineCount(Lines, StartLine), 2);
  EXPECT_EQ(Reads.load(), 0);  // no reader ever ran
  EXPECT_EQ(State->Count("init"), 0);
  EXPECT_EQ(State->Count("client"), 0);
  EXPECT_GE(State->Count("none"), 2);
}

TEST_F(CommunicateTest, ServerClosingTheConnectionGetsAFreshGreetingOnReconnect) {
  TLoopbackServer Server;
  StartLink(Server.Port());
  auto Peer = AcceptLink(Server, NextAttemptMs);
  ASSERT_TRUE(Peer);
  Peer->Send("last\r\n");
  Peer->Close();

  ASSERT_TRUE(WaitLogCount(Log, "Connection Closed Gracefully.", 1, 8000));
  std::string Line;
  auto Again = AcceptLink(Server, 2 * NextAttemptMs, &Line);
  ASSERT_TRUE(Again);
  EXPECT_EQ(Line, Greeting);
  EXPECT_EQ(State->Count("init"), 2);

  auto Calls = State->Snapshot();
  auto Routed = std::find(Calls.begin(), Calls.end(), "route:last");
  ASSERT_NE(Routed, Calls.end());
  EXPECT_EQ(*(Routed + 1), "none");  // the line first, then the router is cut off
  auto Lines = LogLines(Log);
  int Closed = LineIndex(Lines, "Connection Closed Gracefully.");
  EXPECT_EQ(Lines[Closed - 1], ErrorHead);
}

// A failure after the reader has started on the new connection fails the whole attempt: the
// connection is closed and released once (the reader, failing on it, leaves it to the attempt),
// the error is logged and the next attempt follows.
TEST_F(CommunicateTest, FailureAfterTheReaderStartedFailsTheAttemptAndRetries) {
  State->InitConnectFails = true;
  TLoopbackServer Server;
  StartLink(Server.Port());
  auto Peer = AcceptLink(Server, NextAttemptMs);
  ASSERT_TRUE(Peer);
  EXPECT_TRUE(Peer->WaitClosed(5000));
  ASSERT_TRUE(WaitLogCount(Log, "scan failed", 1, 5000));
  EXPECT_EQ(LineCount(LogLines(Log), "Done Connect to host"), 0);

  auto Again = AcceptLink(Server, 2 * NextAttemptMs);
  ASSERT_TRUE(Again);
  EXPECT_TRUE(Again->WaitClosed(5000));
  EXPECT_EQ(State->Count("init"), 2);
}

// A healthy link is probed with a second connection that opens and closes; once the server
// stops accepting, the probe fails, the link is torn down and built again when it accepts again.
TEST_F(CommunicateTest, FailedProbeRebuildsTheLinkOnceTheServerAcceptsAgain) {
  auto Server = std::make_unique<TLoopbackServer>();
  uint16_t Port = Server->Port();
  StartLink(Port);
  auto Peer = AcceptLink(*Server, NextAttemptMs);
  ASSERT_TRUE(Peer);

  auto Probe = Server->Accept(NextAttemptMs);
  ASSERT_TRUE(Probe);
  EXPECT_TRUE(Probe->WaitClosed(5000));
  std::string Line;
  EXPECT_FALSE(Peer->ReadLine(Line, 200));  // the link itself stays up
  EXPECT_EQ(State->Count("error"), 0);

  Server->StopListening();
  EXPECT_TRUE(Peer->WaitClosed(NextAttemptMs + 3000));
  ASSERT_TRUE(WaitLogCount(Log, ErrorHead, 1, 5000));
  EXPECT_GE(State->Count("error"), 1);

  Server = std::make_unique<TLoopbackServer>(Port);
  auto Again = AcceptLink(*Server, 3 * NextAttemptMs, &Line);
  ASSERT_TRUE(Again);
  EXPECT_EQ(Line, Greeting);
  EXPECT_EQ(State->Count("init"), 2);
}

TEST_F(CommunicateTest, RestartWithNewSettingsWhileConnectedUsesThemForTheNextConnection) {
  TLoopbackServer First, Second;
  StartLink(First.Port());
  auto Peer = AcceptLink(First, NextAttemptMs);
  ASSERT_TRUE(Peer);

  Comm->SetPortProp(Second.Port());
  Comm->Disconnect(true);
  EXPECT_TRUE(Peer->WaitClosed(3000));
  EXPECT_GE(State->Count("error"), 1);

  std::string Line;
  auto Again = AcceptLink(Second, 2 * NextAttemptMs, &Line);
  ASSERT_TRUE(Again);
  EXPECT_EQ(Line, Greeting);
  // The reader's failure is logged; the manager released the client, not the reader.
  EXPECT_TRUE(WaitLogCount(Log, ErrorHead, 1, 3000));
}

TEST_F(CommunicateTest, RestartWithNewSettingsWhileNotConnectedUsesThemForTheNextAttempt) {
  StartLink(TLoopbackServer::UnusedPort());
  ASSERT_TRUE(WaitLogCount(Log, "Connection refused.", 1, NextAttemptMs));

  TLoopbackServer Server;
  Comm->SetPortProp(Server.Port());
  Comm->Disconnect(true);
  std::string Line;
  auto Peer = AcceptLink(Server, 2 * NextAttemptMs, &Line);
  ASSERT_TRUE(Peer);
  EXPECT_EQ(Line, Greeting);
}

// A server that is not TLS fails the handshake: the attempt leaves no connection behind (the
// server sees it closed), starts no reader, and the next attempt opens a fresh connection.
TEST_F(CommunicateTest, FailedTLSHandshakeLeavesNothingBehind) {
  TLoopbackServer Server;
  StartLink(Server.Port(), true);

  auto Peer = Server.Accept(NextAttemptMs);
  ASSERT_TRUE(Peer);
  Peer->Send("this is not TLS\r\n");
  EXPECT_TRUE(Peer->WaitClosed(8000));
  ASSERT_TRUE(WaitLogCount(Log, "Error connecting with SSL.", 1, 5000));
  EXPECT_EQ(Reads.load(), 0);
  EXPECT_EQ(State->Count("init"), 0);

  auto Next = Server.Accept(NextAttemptMs);
  ASSERT_TRUE(Next);
  Next->Send("still not TLS\r\n");
  EXPECT_TRUE(Next->WaitClosed(8000));
  EXPECT_TRUE(WaitLogCount(Log, "Error connecting with SSL.", 2, 5000));
  EXPECT_EQ(Reads.load(), 0);
}

TEST_F(CommunicateTest, TLSLinkCarriesTheGreetingAndRequestsAndClosesBounded) {
  TTestPeer Peer(TPeerTls::Tls1_3Only);
  Peer.AcceptAsync();
  StartLink(Peer.Port(), true);
  ASSERT_TRUE(Peer.Accepted());
  Peer.Send("hello\r\n");
  EXPECT_EQ(Peer.ReceiveBytes(Greeting.size() + 2), Greeting + "\r\n");
  EXPECT_TRUE(State->WaitCount("route:hello", 1, 5000));
  EXPECT_TRUE(WaitLogCount(Log, "Done Connect to host", 1, 5000));

  EXPECT_LT(CloseMs(), 8000);
  EXPECT_TRUE(Peer.ReceiveEnd());
  EXPECT_EQ(LineCount(LogLines(Log), ErrorHead), 0);
}

// The final teardown in each state of the link ends in bounded time with every thread gone,
// and the router is destroyed last, after every call the link's threads made into it.
TEST_F(CommunicateTest, FinalTeardownWhileConnectedEndsBounded) {
  TLoopbackServer Server;
  StartLink(Server.Port());
  auto Peer = AcceptLink(Server, NextAttemptMs);
  ASSERT_TRUE(Peer);

  EXPECT_LT(CloseMs(), 8000);
  EXPECT_TRUE(Peer->WaitClosed(3000));
  EXPECT_TRUE(State->Destroyed);
  EXPECT_EQ(State->CallsAfterDestroy.load(), 0);
  EXPECT_EQ(State->Snapshot().back(), "destroyed");
  EXPECT_EQ(LineCount(LogLines(Log), ErrorHead), 0);  // the reader ends quietly
}

TEST_F(CommunicateTest, FinalTeardownWhileConnectingEndsBounded) {
  State->InitConnectDelayMs = 1500;
  TLoopbackServer Server;
  StartLink(Server.Port());
  auto Peer = Server.Accept(NextAttemptMs);
  ASSERT_TRUE(Peer);
  ASSERT_TRUE(WaitUntil([&] { return State->InInitConnect.load(); }, 5000));

  EXPECT_LT(CloseMs(), 8000);
  EXPECT_TRUE(Peer->WaitClosed(3000));
  EXPECT_EQ(State->CallsAfterDestroy.load(), 0);
  EXPECT_EQ(State->Snapshot().back(), "destroyed");
}

// A TLS server that never answers the handshake keeps the attempt connecting.
TEST_F(CommunicateTest, FinalTeardownDuringTheTLSHandshakeStartsNoReader) {
  TLoopbackServer Server;
  StartLink(Server.Port(), true);
  auto Peer = Server.Accept(NextAttemptMs);
  ASSERT_TRUE(Peer);

  EXPECT_LT(CloseMs(), 8000);
  EXPECT_TRUE(Peer->WaitClosed(3000));
  EXPECT_EQ(State->Count("init"), 0);
  EXPECT_EQ(Reads.load(), 0);
}

TEST_F(CommunicateTest, FinalTeardownWhileIdleEndsBounded) {
  // Armed, between two failed attempts.
  StartLink(TLoopbackServer::UnusedPort());
  ASSERT_TRUE(WaitLogCount(Log, "Connection refused.", 1, NextAttemptMs));
  EXPECT_LT(CloseMs(), 8000);
  EXPECT_EQ(State->CallsAfterDestroy.load(), 0);
}

TEST_F(CommunicateTest, NoAttemptBeforeEverySettingIsHandedOver) {
  TLoopbackServer Server;
  Comm = std::make_unique<TCommunicate>(std::make_unique<TFakeRouter>(State));
  Comm->SetHostProp(u"127.0.0.1");
  Comm->SetPortProp(Server.Port());
  Comm->SetUidProp(u"uid-1");
  Comm->SetLoggerProp(&Log);  // arms, but the TLS switch and the counter are still missing
  EXPECT_FALSE(Server.Accept(7000));
  EXPECT_EQ(LineCount(LogLines(Log), StartLine), 0);

  Comm->SetSSLSecureProp(false);
  Comm->SetIncQueryProp([this] { ++Reads; });
  EXPECT_TRUE(AcceptLink(Server, NextAttemptMs));
}

// The server closes while the router is slow to let go of the connection: the teardown that
// follows at once must keep the router alive until the reader is done with it.
TEST_F(CommunicateTest, RouterOutlivesAReaderStillFailingAtTeardown) {
  State->CutOffDelayMs = 700;
  TLoopbackServer Server;
  StartLink(Server.Port());
  auto Peer = AcceptLink(Server, NextAttemptMs);
  ASSERT_TRUE(Peer);
  Peer->Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  EXPECT_LT(CloseMs(), 8000);
  EXPECT_EQ(State->CallsAfterDestroy.load(), 0);
  EXPECT_EQ(State->Snapshot().back(), "destroyed");
}

}  // namespace

namespace {

// Milliseconds Action takes.
template <typename TAction>
long long MsOf(TAction&& Action) {
  auto Begin = std::chrono::steady_clock::now();
  Action();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               Begin)
      .count();
}

// Far below the system's connect time-out (minutes), which a wait that is not aborted lasts.
constexpr long long NeverHangsMs = 8000;

}  // namespace

// A connection request that nobody answers keeps an attempt in its connect. A restart (Apply)
// aborts the attempt instead of waiting for it; the abort is logged as the attempt's error and
// the next attempt uses the new settings.
TEST_F(CommunicateTest, RestartAbortsAnAttemptHangingInConnectAndTheNewSettingsTakeEffect) {
  THangingListener Hanging;
  ASSERT_TRUE(Hanging.Full());
  StartLink(Hanging.Port());
  ASSERT_TRUE(WaitLogCount(Log, StartLine, 1, NextAttemptMs));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  TLoopbackServer Server;
  Comm->SetPortProp(Server.Port());
  EXPECT_LT(MsOf([&] { Comm->Disconnect(true); }), NeverHangsMs);
  EXPECT_TRUE(WaitLogCount(Log, "Software caused connection abort.", 1, 3000));
  std::string Line;
  auto Peer = AcceptLink(Server, 2 * NextAttemptMs, &Line);
  ASSERT_TRUE(Peer);
  EXPECT_EQ(Line, Greeting);
}

// A restart (Apply) right after a connection came up, in the pause before the reader starts,
// overtakes that attempt instead of waiting for the pause, the greeting and the restart's pause
// on the connection: the first connection closes without a greeting and the next attempt uses
// the new settings.
TEST_F(CommunicateTest, RestartInThePauseAfterConnectingOvertakesTheAttempt) {
  TLoopbackServer First;
  StartLink(First.Port());
  auto Peer = First.Accept(NextAttemptMs);
  ASSERT_TRUE(Peer);

  TLoopbackServer Second;
  Comm->SetPortProp(Second.Port());
  EXPECT_LT(MsOf([&] { Comm->Disconnect(true); }), NeverHangsMs);
  std::string Line;
  EXPECT_FALSE(Peer->ReadLine(Line, 3000)) << "greeted: " << Line;
  std::string Again;
  ASSERT_TRUE(AcceptLink(Second, 2 * NextAttemptMs, &Again));
  EXPECT_EQ(Again, Greeting);
}

TEST_F(CommunicateTest, FinalTeardownAbortsAnAttemptHangingInConnect) {
  THangingListener Hanging;
  ASSERT_TRUE(Hanging.Full());
  StartLink(Hanging.Port());
  ASSERT_TRUE(WaitLogCount(Log, StartLine, 1, NextAttemptMs));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  EXPECT_LT(CloseMs(), NeverHangsMs);
  EXPECT_EQ(State->CallsAfterDestroy.load(), 0);
  EXPECT_EQ(LineCount(LogLines(Log), ErrorHead), 0);  // an aborted attempt at close is quiet
}

// The link is up but the server stops taking new connections: the probe hangs in its connect,
// and closing aborts it.
TEST_F(CommunicateTest, FinalTeardownAbortsAProbeHangingInConnect) {
  THangingListener Server(false);
  StartLink(Server.Port());
  ASSERT_TRUE(Server.AcceptOne(NextAttemptMs));
  ASSERT_TRUE(WaitLogCount(Log, "Done Connect to host", 1, 5000));
  Server.Fill();
  ASSERT_TRUE(Server.Full());
  // The timer wakes every 5000 ms; by then its probe waits for an answer that never comes.
  std::this_thread::sleep_for(std::chrono::milliseconds(6000));

  EXPECT_LT(CloseMs(), NeverHangsMs);
  EXPECT_EQ(State->CallsAfterDestroy.load(), 0);
}
