// The link's manager with the system's own router, against a server on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "CommTestSupport.h"
#include "Communicate.h"

namespace {

TEST(CommunicateRouterTest, RealRouterGreetsEachConnectionAndClosesBounded) {
  TLoopbackServer Server;
  TLogger Log;
  Log.SetLogEnabled(true);
  auto Comm = std::make_unique<TCommunicate>();
  Comm->SetHostProp(u"127.0.0.1");
  Comm->SetPortProp(Server.Port());
  Comm->SetUidProp(u"uid-7");
  Comm->SetLoggerProp(&Log);
  Comm->SetSSLSecureProp(false);
  Comm->SetIncQueryProp([] {});

  std::string Line;
  auto Peer = AcceptLink(Server, 12000, &Line);
  ASSERT_TRUE(Peer);
  EXPECT_EQ(Line.rfind("{\"cmd\":\"serverOnline\",\"uid\":\"uid-7\"", 0), 0u) << Line;
  ASSERT_TRUE(WaitLogCount(Log, "Done Connect to host", 1, 5000));
  auto Lines = LogLines(Log);
  EXPECT_LT(LineIndex(Lines, "Done GetListServers"), LineIndex(Lines, "Done Connect to host"));

  // The server drops the link: the next connection is greeted again.
  Peer->Close();
  auto Again = AcceptLink(Server, 24000, &Line);
  ASSERT_TRUE(Again);
  EXPECT_EQ(Line.rfind("{\"cmd\":\"serverOnline\"", 0), 0u) << Line;

  auto Begin = std::chrono::steady_clock::now();
  Comm->Disconnect(false);
  Comm.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - Begin, std::chrono::seconds(8));
  EXPECT_TRUE(Again->WaitClosed(3000));
}

}  // namespace
