// The line transport over plain TCP against a loopback peer: framing, limits, closing, errors.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "LinkClient.h"
#include "LinkTestSupport.h"
#include "SocketApi.h"
#include "TestPeer.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace {

const std::string Graceful = "Connection Closed Gracefully.";

bool RunningUnderWine() {
#ifdef _WIN32
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
  return false;
#endif
}

TEST(LinkClientTest, ReadLnFramesLinesAndDecodesUtf8) {
  struct TCase {
    std::string Wire;
    std::u16string Line;
  };
  // The first line is read before anything was written: it is UTF-8 all the same.
  const std::vector<TCase> Cases = {
      {"\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\n", u"\u00E4\u20AC\U0001F600"},
      {"abc\r\n", u"abc"},
      {"abc\n", u"abc"},
      {"abc\r\r\n", u"abc\r"},
      {"\n", u""},
      {"\r\n", u""},
      {"\r\r\n", u"\r"},
      {" a\tb \n", u" a\tb "},
      {"a\rb\n", u"a\rb"},
      {"bad\xFF\xC3\n", u"bad\uFFFD\uFFFD"},
  };
  TTestPeer Peer;
  TLinkClient Client;
  ConnectPair(Client, Peer);
  std::string Stream;
  for (const auto& Case : Cases) Stream += Case.Wire;
  Peer.Send(Stream);
  for (const auto& Case : Cases) EXPECT_EQ(Client.ReadLn(), Case.Line) << Case.Wire;
}

TEST(LinkClientTest, HalfLineWaitsForItsRestAcrossEmptyReads) {
  TTestPeer Peer;
  TLinkClient Client;
  Client.ReadTimeout = ShortWaitMs;
  ConnectPair(Client, Peer);
  Peer.Send("half li");
  EXPECT_EQ(Client.ReadLn(), u"");
  EXPECT_EQ(Client.ReadLn(), u"");
  Peer.Send("ne\r");
  EXPECT_EQ(Client.ReadLn(), u"");
  Peer.Send("\nnext\n");
  Client.ReadTimeout = DataWaitMs;
  EXPECT_EQ(Client.ReadLn(), u"half line");
  EXPECT_EQ(Client.ReadLn(), u"next");
}

TEST(LinkClientTest, SilentServerGivesEmptyLinesAfterTheLinksReadTimeout) {
  TTestPeer Peer;
  TLinkClient Client;
  Client.ReadTimeout = 2000;
  ConnectPair(Client, Peer);
  EXPECT_EQ(Client.ReadLn(), u"");
  EXPECT_EQ(Client.ReadLn(), u"");
  EXPECT_TRUE(Client.Connected());
}

TEST(LinkClientTest, LinesUpToTheLimitPassAndLongerOnesFailForGood) {
  const std::size_t Max = TLinkClient::MaxLineLength;
  TTestPeer Peer;
  TLinkClient Client;
  ConnectPair(Client, Peer);
  Peer.Send(std::string(Max, 'a') + "\n" + std::string(Max - 1, 'b') + "\r\n" +
            std::string(Max + 1, 'c') + "\n");
  EXPECT_EQ(Client.ReadLn(), std::u16string(Max, u'a'));
  EXPECT_EQ(Client.ReadLn(), std::u16string(Max - 1, u'b'));
  EXPECT_EQ(ErrorOf([&] { Client.ReadLn(); }), "Max line length exceeded.");
  // The buffer is left as it was: the next read fails the same way.
  EXPECT_EQ(ErrorOf([&] { Client.ReadLn(); }), "Max line length exceeded.");
}

TEST(LinkClientTest, UnterminatedBytesBeyondTheLimitFailWithoutWaitingForLf) {
  const std::size_t Max = TLinkClient::MaxLineLength;
  TTestPeer Peer;
  TLinkClient Client;
  Client.ReadTimeout = ShortWaitMs;
  ConnectPair(Client, Peer);
  Peer.Send(std::string(Max, 'x'));
  EXPECT_EQ(Client.ReadLn(), u"");
  Peer.Send("x");
  // A read that waited for the LF would return "" after this long instead of failing.
  Client.ReadTimeout = DataWaitMs;
  EXPECT_EQ(ErrorOf([&] { Client.ReadLn(); }), "Max line length exceeded.");
}

TEST(LinkClientTest, PeerClosingReturnsCompleteLinesThenFailsNeverTheHalfLine) {
  TTestPeer Peer;
  TLinkClient Client;
  ConnectPair(Client, Peer);
  Peer.Send("one\ntwo");
  Peer.Close();
  EXPECT_EQ(Client.ReadLn(), u"one");
  EXPECT_EQ(ErrorOf([&] { Client.ReadLn(); }), Graceful);
  EXPECT_EQ(ErrorOf([&] { Client.ReadLn(); }), Graceful);
}

TEST(LinkClientTest, PeerResetFailsTheReadWithTheSocketError) {
  TTestPeer Peer;
  TLinkClient Client;
  ConnectPair(Client, Peer);
  Client.WriteLn(u"never read");
  ASSERT_TRUE(Peer.WaitReadable());
  Peer.Reset();
  std::string First = ErrorOf([&] { Client.ReadLn(); });
  std::string Second = ErrorOf([&] { Client.ReadLn(); });
  if (RunningUnderWine() && First == Graceful) {
    // Wine at times reports a reset connection as closed by the peer.
    EXPECT_EQ(Second, Graceful);
    return;
  }
  EXPECT_EQ(First, "Socket Error # 10054\r\nConnection reset by peer.");
  EXPECT_EQ(Second, "Not Connected");
}

// A port on 127.0.0.1 that nobody listens on, for as long as the object lives.
class TClosedPort {
 public:
  TClosedPort() {
    StartSockets();
    Socket = TSocket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in Addr{};
    Addr.sin_family = AF_INET;
    Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(Socket.Handle(), reinterpret_cast<sockaddr*>(&Addr), sizeof Addr);
#ifdef _WIN32
    int Length = sizeof Addr;
#else
    socklen_t Length = sizeof Addr;
#endif
    getsockname(Socket.Handle(), reinterpret_cast<sockaddr*>(&Addr), &Length);
    Port = ntohs(Addr.sin_port);
  }
  uint16_t Port = 0;

 private:
  TSocket Socket;
};

TEST(LinkClientTest, ConnectFailuresLeaveNoConnection) {
  TClosedPort Closed;
  struct TCase {
    std::u16string Host;
    uint16_t Port;
    std::string Error;
  };
  const std::vector<TCase> Cases = {
      {u"", 80, ""},
      {u"127.0.0.1", 0, ""},
      {u"127.0.0.1", Closed.Port, "Socket Error # 10061\r\nConnection refused."},
      {u"nosuchhost.invalid", 80, "Socket Error # 11001\r\nHost not found."},
  };
  for (const auto& Case : Cases) {
    TLinkClient Client;
    Client.Host = Case.Host;
    Client.Port = Case.Port;
    EXPECT_EQ(ErrorOf([&] { Client.Connect(); }), Case.Error);
    EXPECT_FALSE(Client.Connected());
    EXPECT_EQ(ErrorOf([&] { Client.ReadLn(); }), "Not Connected");
  }
}

TEST(LinkClientTest, ConnectResolvesHostNames) {
  TTestPeer Peer;
  TLinkClient Client;
  Client.Host = u"localhost";
  Client.Port = Peer.Port();
  Client.ReadTimeout = DataWaitMs;
  Peer.AcceptAsync();
  Client.Connect();
  ASSERT_TRUE(Peer.Accepted());
  Peer.Send("hi\n");
  EXPECT_EQ(Client.ReadLn(), u"hi");
}

TEST(LinkClientTest, OnConnectedRunsInsideConnectOnTheConnectingThread) {
  TTestPeer Peer;
  TLinkClient Client;
  std::thread::id HandlerThread;
  TLinkClient* Sender = nullptr;
  Client.OnConnected = [&](TLinkClient& From) {
    HandlerThread = std::this_thread::get_id();
    Sender = &From;
    From.WriteLn(u"greeting");
  };
  ConnectPair(Client, Peer);
  EXPECT_EQ(HandlerThread, std::this_thread::get_id());
  EXPECT_EQ(Sender, &Client);
  EXPECT_EQ(Peer.ReceiveBytes(10), "greeting\r\n");
}

TEST(LinkClientTest, FailingOnConnectedFailsConnectAndClosesTheConnection) {
  TTestPeer Peer;
  TLinkClient Client;
  Client.OnConnected = [](TLinkClient&) { throw std::runtime_error("handler failed"); };
  Client.Host = u"127.0.0.1";
  Client.Port = Peer.Port();
  Peer.AcceptAsync();
  EXPECT_EQ(ErrorOf([&] { Client.Connect(); }), "handler failed");
  ASSERT_TRUE(Peer.Accepted());
  EXPECT_FALSE(Client.Connected());
  EXPECT_TRUE(Peer.ReceiveEnd());
}

TEST(LinkClientTest, UnconnectedClientRefusesReadsAndWrites) {
  TLinkClient Client;
  EXPECT_EQ(ErrorOf([&] { Client.ReadLn(); }), "Not Connected");
  EXPECT_EQ(ErrorOf([&] { Client.WriteLn(u"x"); }), "Not Connected");
  Client.Disconnect();
  EXPECT_FALSE(Client.Connected());
}

TEST(LinkClientTest, WriteLnSendsTextAndCrLfInOneSendWithTheCurrentEncoding) {
  TTestPeer Peer;
  TLinkClient Client;
  ConnectPair(Client, Peer);
  // One send of one small segment: the peer's first receive holds the whole line.
  Client.WriteLn(u"abc");
  EXPECT_EQ(Peer.ReceiveSome(), "abc\r\n");
  Client.WriteLn(u"\u00E4\U0001F600x");
  EXPECT_EQ(Peer.ReceiveBytes(5), "??x\r\n");
  Client.DefStringEncoding = TTextEncoding::Utf8;
  Client.WriteLn(u"\u00E4\U0001F600x");
  EXPECT_EQ(Peer.ReceiveBytes(9), "\xC3\xA4\xF0\x9F\x98\x80x\r\n");
}

TEST(LinkClientTest, DisconnectKeepsCompleteLinesThenReportsTheClose) {
  TTestPeer Peer;
  TLinkClient Client;
  ConnectPair(Client, Peer);
  Peer.Send("a\nb\nc");
  EXPECT_EQ(Client.ReadLn(), u"a");
  Client.Disconnect();
  EXPECT_FALSE(Client.Connected());
  EXPECT_EQ(Client.ReadLn(), u"b");
  EXPECT_EQ(ErrorOf([&] { Client.ReadLn(); }), Graceful);
  EXPECT_EQ(ErrorOf([&] { Client.WriteLn(u"x"); }), "Not Connected");
  EXPECT_TRUE(Peer.ReceiveEnd());
  Client.Disconnect();
}

}  // namespace
