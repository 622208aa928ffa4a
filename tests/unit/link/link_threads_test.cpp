// One client used from several threads at once: a read and a write at the same time, and a
// Disconnect from another thread that ends a waiting read or write; over TCP and over TLS.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "LinkClient.h"
#include "LinkSSLHandler.h"
#include "LinkTestSupport.h"
#include "TestPeer.h"

namespace {

class LinkThreadsTest : public ::testing::TestWithParam<TPeerTls> {
 protected:
  void Open(int32_t ReadTimeout) {
    Peer = std::make_unique<TTestPeer>(GetParam());
    Client = std::make_unique<TLinkClient>();
    Client->ReadTimeout = ReadTimeout;
    ConnectPair(*Client, *Peer, GetParam() == TPeerTls::None ? nullptr : &Ssl);
  }

  TLinkSSLHandler Ssl;
  std::unique_ptr<TTestPeer> Peer;
  // Released before the peer, whose echo thread ends when the client has closed.
  std::unique_ptr<TLinkClient> Client;

  void TearDown() override {
    Client.reset();
    Peer.reset();
  }
};

TEST_P(LinkThreadsTest, ReadAndWriteRunAtTheSameTime) {
  Open(DataWaitMs);
  Peer->StartEcho();
  Client->DefStringEncoding = TTextEncoding::Utf8;
  constexpr int Count = 2000;
  auto LineOf = [](int I) {
    return u"line " + std::u16string(static_cast<std::size_t>(I % 300), u'\u00E9') + u" end";
  };
  auto Writer = std::async(std::launch::async, [&] {
    return ErrorOf([&] {
      for (int I = 0; I < Count; ++I) Client->WriteLn(LineOf(I));
    });
  });
  int Matched = 0;
  for (int I = 0; I < Count; ++I) {
    if (Client->ReadLn() == LineOf(I)) ++Matched;
  }
  ASSERT_TRUE(Finishes(Writer));
  EXPECT_EQ(Writer.get(), "<no error>");
  EXPECT_EQ(Matched, Count);
}

TEST_P(LinkThreadsTest, DisconnectFromAnotherThreadEndsAWaitingRead) {
  // Without a time-out, only the Disconnect can end this read.
  Open(-1);
  Peer->Send("first\n");
  std::promise<void> FirstRead;
  auto Reader = std::async(std::launch::async, [&] {
    std::u16string First = Client->ReadLn();
    FirstRead.set_value();
    std::string Error = ErrorOf([&] { Client->ReadLn(); });
    return std::make_pair(First, Error);
  });
  FirstRead.get_future().wait();
  // Gives the reader time to enter its wait; the result is the same if it has not.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Client->Disconnect();
  ASSERT_TRUE(Finishes(Reader));
  auto [First, Error] = Reader.get();
  EXPECT_EQ(First, u"first");
  EXPECT_TRUE(Error == "Connection Closed Gracefully." || Error.rfind("Socket Error # ", 0) == 0)
      << Error;
  EXPECT_EQ(ErrorOf([&] { Client->ReadLn(); }), "Connection Closed Gracefully.");
  EXPECT_TRUE(Peer->ReceiveEnd());
}

TEST_P(LinkThreadsTest, DisconnectFromAnotherThreadEndsABlockedWrite) {
  Open(DataWaitMs);
  // The peer reads nothing, so the writer soon blocks on a full socket.
  std::atomic<long> Written{0};
  auto Writer = std::async(std::launch::async, [&] {
    const std::u16string Line(65536, u'w');
    return ErrorOf([&] {
      for (;;) {
        Client->WriteLn(Line);
        ++Written;
      }
    });
  });
  long Seen = -1;
  for (int Checks = 0; Checks < 100 && Seen != Written; ++Checks) {
    Seen = Written;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Client->Disconnect();
  ASSERT_TRUE(Finishes(Writer));
  std::string Error = Writer.get();
  EXPECT_TRUE(Error == "Socket Error # 10053\r\nSoftware caused connection abort." ||
              Error == "Not Connected")
      << Error;
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, LinkThreadsTest,
                         ::testing::Values(TPeerTls::None, TPeerTls::Tls1_3Only),
                         [](const auto& Info) {
                           return Info.param == TPeerTls::None ? "Plain" : "Tls";
                         });

}  // namespace
