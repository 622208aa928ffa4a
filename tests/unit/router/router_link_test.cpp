// Writing on the link: exact bytes, the log entries around each write, drops while there is no
// usable transport, and one writer at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "LinkClient.h"
#include "LogCapture.h"
#include "LoopbackPeer.h"
#include "Router.h"

namespace {

const TLogEntry SocketEcn{LogInfo, u"Socket Ecn", 0};
const TLogEntry SocketWrite{LogInfo, u"Socket Write", 0};
const TLogEntry WriteException{LogInfo, u"TCP Write Exception", 0};
const std::string PingLine =
    "{\"cmd\":\"ping\",\"TransID\":7,\"OPCServerID\":\"ID\",\"OPCState\":\"Running\"}\r\n";

class RouterLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { Router.SetLoggerProp(Log.Logger()); }

  TLoopbackPeer Peer;
  TLogCapture Log;
  TRouter Router;
};

TEST_F(RouterLinkTest, AnswersAreUtf8LinesSentBeforeTheirLogEntry) {
  Router.SetTCPClientProp(ConnectTo(Peer));
  Router.PingAnswer(u"ID", 7, 1);
  Router.SetValueAnswer(u"ID", 8, u"Grüße", u"1");
  const auto Lines = Peer.WaitForLines(2);
  ASSERT_EQ(Lines.size(), 2u);
  EXPECT_EQ(Lines[0], PingLine);
  EXPECT_EQ(
      Lines[1],
      "{\"cmd\":\"setValue\",\"OPCServerID\":\"ID\",\"TransID\":8,\"tagName\":\"Gr\xC3\xBC\xC3\x9F"
      "e\",\"value\":\"1\"}\r\n");
  EXPECT_EQ(Log.Lines(), TLogCapture::LinesOf({SocketEcn,
                                               SocketWrite,
                                               {LogDone, u"Ping", 7},
                                               SocketEcn,
                                               SocketWrite,
                                               {LogDone, u"setValue", 8}}));
}

TEST_F(RouterLinkTest, ErrorsAreLoggedBeforeTheyAreSent) {
  Router.SetTCPClientProp(ConnectTo(Peer));
  Router.ErrorConnectAnswer(6, -17, 0, u"ID");
  EXPECT_EQ(Log.Lines(),
            TLogCapture::LinesOf({{LogError, u"OPC not answer", 0}, SocketEcn, SocketWrite}));
  EXPECT_EQ(Peer.WaitForLines(1).at(0),
            "{\"cmd\":\"updateValues\",\"TransID\":0,\"OPCServerID\":\"ID\",\"error\":\"OPC not "
            "answer\"}\r\n");
}

TEST_F(RouterLinkTest, NothingIsWrittenWithoutAUsableTransport) {
  Router.PingAnswer(u"ID", 7, 1);  // none handed over yet
  auto Client = ConnectTo(Peer);
  Router.SetTCPClientProp(Client);
  Router.SetTCPError();
  Router.PingAnswer(u"ID", 7, 1);
  Router.SetTCPClientProp(nullptr);
  Router.PingAnswer(u"ID", 7, 1);
  EXPECT_EQ(Log.Lines(), TLogCapture::LinesOf(std::vector<TLogEntry>(3, {LogDone, u"Ping", 7})));

  Router.SetTCPClientProp(Client);
  Router.PingAnswer(u"ID", 7, 1);
  EXPECT_EQ(Peer.WaitForLines(1), std::vector<std::string>{PingLine});
}

TEST_F(RouterLinkTest, AFailedWriteDropsEverythingUntilANewTransportComes) {
  auto Client = ConnectTo(Peer);
  Router.SetTCPClientProp(Client);
  Client->Disconnect();
  Router.PingAnswer(u"ID", 7, 1);
  Router.PingAnswer(u"ID", 7, 1);
  EXPECT_EQ(
      Log.Lines(),
      TLogCapture::LinesOf(
          {SocketEcn, SocketWrite, WriteException, {LogDone, u"Ping", 7}, {LogDone, u"Ping", 7}}));
  Router.SetTCPClientProp(ConnectTo(Peer));
  Router.PingAnswer(u"ID", 7, 1);
  EXPECT_EQ(Peer.WaitForLines(1), std::vector<std::string>{PingLine});
}

// Value pushes arrive from several worker threads without the router's lock: every line must
// arrive whole.
TEST_F(RouterLinkTest, ConcurrentWritersNeverInterleaveLines) {
  Router.SetLoggerProp(nullptr);
  Router.SetTCPClientProp(ConnectTo(Peer));
  constexpr int Threads = 4, PerThread = 200;
  const TArray Names(50, u"0123456789abcdef0123456789abcdef");
  std::vector<std::thread> Writers;
  for (int T = 0; T < Threads; ++T)
    Writers.emplace_back([&, T] {
      std::u16string ID = u"{A}";
      ID[1] = static_cast<char16_t>(u'A' + T);
      for (int I = 0; I < PerThread; ++I) Router.GetValuesAnswer(ID, 0, Names, Names, Names);
    });
  for (auto& W : Writers) W.join();
  const auto Lines = Peer.WaitForLines(Threads * PerThread);
  ASSERT_EQ(Lines.size(), size_t{Threads * PerThread});
  const std::set<std::string> Distinct(Lines.begin(), Lines.end());
  EXPECT_EQ(Distinct.size(), size_t{Threads});  // one exact text per writer, nothing mixed
}

// On a connection that expects its greeting, answers and pushes that arise first wait for it and
// then follow it; none is lost.
TEST_F(RouterLinkTest, LinesWaitForTheGreetingOfANewConnection) {
  Router.SetLoggerProp(nullptr);
  Router.SetUidProp(u"uid-1");
  Router.ExpectGreeting();
  Router.SetTCPClientProp(ConnectTo(Peer));
  std::thread Answer([&] { Router.PingAnswer(u"ID", 7, 1); });
  std::thread Push([&] { Router.GetValuesAnswer(u"ID", 0, {u"a"}, {u"1"}, {u"1"}); });
  // Give both writers every chance to get ahead of the greeting.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Peer.Received(), "");
  Router.SendListServers(1, 0);
  Answer.join();
  Push.join();
  const auto Lines = Peer.WaitForLines(3);
  ASSERT_EQ(Lines.size(), 3u);
  EXPECT_EQ(Lines[0],
            "{\"cmd\":\"serverOnline\",\"uid\":\"uid-1\",\"TransID\":0,\"ListServers\":[]}\r\n");
  EXPECT_NE(std::find(Lines.begin(), Lines.end(), PingLine), Lines.end());
}

// A connection that fails before its greeting releases the waiting writers; their lines are
// dropped like any line while the link is down, and the next connection is usable.
TEST_F(RouterLinkTest, AFailureBeforeTheGreetingReleasesTheWaitingWriters) {
  Router.SetLoggerProp(nullptr);
  for (bool ByError : {true, false}) {
    Router.ExpectGreeting();
    Router.SetTCPClientProp(ConnectTo(Peer));
    std::thread Answer([&] { Router.PingAnswer(u"ID", 7, 1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (ByError) {
      Router.SetTCPError();
    } else {
      Router.SetTCPClientProp(nullptr);
    }
    Answer.join();
  }
  Router.SetTCPClientProp(ConnectTo(Peer));
  Router.PingAnswer(u"ID", 7, 1);
  EXPECT_EQ(Peer.WaitForLines(1), std::vector<std::string>{PingLine});
}

}  // namespace
