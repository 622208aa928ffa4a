// The TLS layer of the link against loopback TLS servers with a self-signed certificate that
// names another host: old and new protocol versions, failed handshakes, a missing library.
#include <gtest/gtest.h>

#include <string>

#include "LinkClient.h"
#include "LinkSSLHandler.h"
#include "LinkTestSupport.h"
#include "SslApi.h"
#include "TestPeer.h"

namespace {

const std::string SslFailure = "Error connecting with SSL.\r\n";

class LinkTlsVersionsTest : public ::testing::TestWithParam<TPeerTls> {};

TEST_P(LinkTlsVersionsTest, ExchangesLinesBothWaysAndSeesTheClose) {
  TTestPeer Peer(GetParam());
  TLinkSSLHandler Ssl;
  TLinkClient Client;
  ConnectPair(Client, Peer, &Ssl);
  EXPECT_EQ(Ssl.Mode, TLinkSSLMode::Client);
  Client.DefStringEncoding = TTextEncoding::Utf8;
  Client.WriteLn(u"hello \u00E4");
  EXPECT_EQ(Peer.ReceiveBytes(10), "hello \xC3\xA4\r\n");
  Peer.Send("answer\r\nsecond\n");
  EXPECT_EQ(Client.ReadLn(), u"answer");
  EXPECT_EQ(Client.ReadLn(), u"second");
  Peer.Close();
  EXPECT_EQ(ErrorOf([&] { Client.ReadLn(); }), "Connection Closed Gracefully.");
}

INSTANTIATE_TEST_SUITE_P(ServerVersions, LinkTlsVersionsTest,
                         ::testing::Values(TPeerTls::Tls1_0Only, TPeerTls::Tls1_3Only),
                         [](const auto& Info) {
                           return Info.param == TPeerTls::Tls1_0Only ? "Tls1_0Only" : "Tls1_3Only";
                         });

TEST(LinkTlsTest, AttachingTheHandlerCopiesTheClientsSettings) {
  TLinkClient Client;
  Client.Host = u"scada.example";
  Client.Port = 4443;
  Client.ReadTimeout = 2000;
  TLinkSSLHandler Ssl;
  Client.SetIOHandler(&Ssl);
  EXPECT_EQ(Client.IOHandler(), &Ssl);
  EXPECT_EQ(Ssl.Host, u"scada.example");
  EXPECT_EQ(Ssl.Port, 4443);
  EXPECT_EQ(Ssl.ReadTimeout, 2000);
}

TEST(LinkTlsTest, ServerThatSpeaksNoTlsFailsTheHandshakeWithTheLibrarysText) {
  TTestPeer Peer;
  Peer.SetGreeting("220 plain text service ready\r\n");
  TLinkSSLHandler Ssl;
  TLinkClient Client;
  Client.ReadTimeout = DataWaitMs;
  Client.Host = u"127.0.0.1";
  Client.Port = Peer.Port();
  Client.SetIOHandler(&Ssl);
  Peer.AcceptAsync();
  std::string Error = ErrorOf([&] { Client.Connect(); });
  ASSERT_TRUE(Peer.Accepted());
  EXPECT_EQ(Error.rfind(SslFailure, 0), 0u) << Error;
  EXPECT_GT(Error.size(), SslFailure.size()) << Error;
  EXPECT_FALSE(Client.Connected());
  EXPECT_TRUE(Peer.ReceiveEnd());
}

TEST(LinkTlsTest, SilentServerFailsTheHandshakeAfterTheHandlersTimeout) {
  TTestPeer Peer;
  TLinkSSLHandler Ssl;
  TLinkClient Client;
  Client.Host = u"127.0.0.1";
  Client.Port = Peer.Port();
  Client.SetIOHandler(&Ssl);
  Ssl.ReadTimeout = ShortWaitMs;
  Peer.AcceptAsync();
  EXPECT_EQ(ErrorOf([&] { Client.Connect(); }), SslFailure + "Connection timed out.");
  ASSERT_TRUE(Peer.Accepted());
  EXPECT_TRUE(Peer.ReceiveEnd());
}

TEST(LinkTlsTest, MissingLibraryFailsConnectAndLeavesNoSocket) {
  TTestPeer Peer;
  TLinkSSLHandler Ssl;
  TLinkClient Client;
  Client.Host = u"127.0.0.1";
  Client.Port = Peer.Port();
  Client.SetIOHandler(&Ssl);
  SetSslLibraryFiles("no-such-libssl", "no-such-libcrypto");
  Peer.AcceptAsync();
  std::string Error = ErrorOf([&] { Client.Connect(); });
  SetSslLibraryFiles("", "");
  EXPECT_EQ(Error, "Could not load SSL library.");
  ASSERT_TRUE(Peer.Accepted());
  EXPECT_TRUE(Peer.ReceiveEnd());
  EXPECT_FALSE(Client.Connected());
}

}  // namespace
