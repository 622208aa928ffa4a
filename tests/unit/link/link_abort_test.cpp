// A connect that the network keeps waiting (an unanswered connection request, a silent TLS
// server, a slow name look-up) ends at once when another thread aborts it.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <thread>

#include "HangingListener.h"
#include "LinkClient.h"
#include "LinkSSLHandler.h"
#include "LinkTestSupport.h"
#include "NameLookup.h"
#include "TestPeer.h"

namespace {

const std::string Aborted = "Socket Error # 10053\r\nSoftware caused connection abort.";

enum class THang { ConnectRequest, TlsHandshake };

class LinkAbortTest : public ::testing::TestWithParam<THang> {};

// Connect runs on its own thread until the test aborts it; the bound only catches a connect
// that is not aborted, which would wait for the system's connect time-out (minutes).
TEST_P(LinkAbortTest, AbortFromAnotherThreadEndsAHangingConnect) {
  THangingListener Hanging;
  TTestPeer Silent;
  TLinkSSLHandler Ssl;
  TLinkClient Client;
  Client.Host = u"127.0.0.1";
  if (GetParam() == THang::ConnectRequest) {
    ASSERT_TRUE(Hanging.Full()) << "the accept queue could not be filled";
    Client.Port = Hanging.Port();
  } else {
    Client.Port = Silent.Port();
    Client.SetIOHandler(&Ssl);  // no time-out: the handshake waits for ever
    Silent.AcceptAsync();
  }

  std::promise<std::string> Error;
  auto Done = Error.get_future();
  std::thread Connecting([&] { Error.set_value(ErrorOf([&] { Client.Connect(); })); });
  EXPECT_EQ(Done.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
      << Done.get();
  Client.AbortConnect();
  bool Ended = Finishes(Done);
  if (!Ended) Client.Disconnect();
  Connecting.join();
  ASSERT_TRUE(Ended);
  EXPECT_EQ(Done.get(), Aborted);
  EXPECT_FALSE(Client.Connected());
  if (GetParam() == THang::TlsHandshake) {
    ASSERT_TRUE(Silent.Accepted());
    EXPECT_TRUE(Silent.ReceiveEnd());  // no socket left open
  }
}

INSTANTIATE_TEST_SUITE_P(Hangs, LinkAbortTest,
                         ::testing::Values(THang::ConnectRequest, THang::TlsHandshake),
                         [](const ::testing::TestParamInfo<THang>& Info) {
                           return Info.param == THang::ConnectRequest ? "ConnectRequest"
                                                                      : "TlsHandshake";
                         });

// An abort that comes before Connect (the manager aborting an attempt that has not reached the
// network yet) is not lost.
TEST(LinkAbortTest, AbortBeforeConnectFailsItAndAConnectionStaysUsable) {
  TTestPeer Peer;
  TLinkClient Aborting;
  Aborting.Host = u"127.0.0.1";
  Aborting.Port = Peer.Port();
  Aborting.AbortConnect();
  EXPECT_EQ(ErrorOf([&] { Aborting.Connect(); }), Aborted);

  // Aborting a client whose connection is already open leaves that connection alone.
  TLinkClient Open;
  Open.ReadTimeout = ShortWaitMs;
  ConnectPair(Open, Peer);
  Open.AbortConnect();
  EXPECT_EQ(Open.ReadLn(), u"");
  Peer.Send("still here\n");
  Open.ReadTimeout = DataWaitMs;
  EXPECT_EQ(Open.ReadLn(), u"still here");
}

// The waiter leaves a name look-up that it no longer needs; the look-up thread ends on its own
// later (the sanitizers see any use of what the waiter released).
TEST(LinkAbortTest, NameLookupResolvesOrIsLeftAtOnce) {
  TWakeSocket Quiet;
  EXPECT_EQ(ResolveIPv4Abortable(u"127.0.0.1", Quiet), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ResolveIPv4Abortable(u"localhost", Quiet), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ErrorOf([&] { ResolveIPv4Abortable(u"nosuchhost.invalid", Quiet); }),
            "Socket Error # 11001\r\nHost not found.");

  TWakeSocket Abort;
  Abort.Signal();
  for (int Round = 0; Round < 20; ++Round)
    EXPECT_EQ(ErrorOf([&] { ResolveIPv4Abortable(u"localhost", Abort); }), Aborted);
  // A dotted address needs no look-up and is never aborted.
  EXPECT_EQ(ResolveIPv4Abortable(u"127.0.0.1", Abort), htonl(INADDR_LOOPBACK));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the look-ups finish
}

}  // namespace
