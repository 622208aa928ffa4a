// The router against opcsim's simulated servers: request lines in, exact answer lines and log
// entries out, the update cycle, the queue limit answered per tick, and value pushes.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "JSONText.h"
#include "LogCapture.h"
#include "LoopbackPeer.h"
#include "Router.h"
#include "SimServers.h"

namespace {

using namespace std::chrono_literals;
using SimServers::MainClassId;

const std::string Id(MainClassId.begin(), MainClassId.end());
const TLogEntry SocketEcn{LogInfo, u"Socket Ecn", 0};
const TLogEntry SocketWrite{LogInfo, u"Socket Write", 0};

std::string Utf8(const std::u16string& Text) {
  std::string Out;
  for (char16_t C : Text) Out.push_back(static_cast<char>(C));  // ASCII only here
  return Out;
}

class RouterOpcSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SimServers::Ensure());
    Sim = std::make_unique<SimServers::TControl>();
    ASSERT_TRUE(Sim->Ok());
    Router = std::make_unique<TRouter>(std::chrono::hours(1));  // ticks only when a test says so
    Router->SetLoggerProp(Log.Logger());
    Router->SetUidProp(u"uid-1");
    Router->SetTCPClientProp(ConnectTo(Peer));
  }
  void TearDown() override {
    Router.reset();
    Sim.reset();
  }

  // Routes Request and returns the next line written (without CR LF).
  std::string Ask(const std::u16string& Request) {
    const size_t Before = Peer.WaitForLines(0).size();
    Router->MakeRouting(Request);
    const auto Lines = Peer.WaitForLines(Before + 1);
    if (Lines.size() <= Before) return "(no answer)";
    return Lines[Before].substr(0, Lines[Before].size() - 2);
  }

  std::u16string Request(const std::u16string& Cmd, int TransID, const std::u16string& More = u"") {
    std::string T = std::to_string(TransID);
    return u"{\"cmd\":\"" + Cmd + u"\",\"TransID\":" + std::u16string(T.begin(), T.end()) +
           u",\"OPCServerID\":\"" + MainClassId + u"\"" + More + u"}";
  }

  // The hash of every tag of the main server, from its getTags answer.
  std::map<std::u16string, std::u16string> Hashes() {
    const std::string Answer = Ask(Request(u"getTags", 90));
    TqvJSONptr Document = TqvJSON::ParseText(std::u16string(Answer.begin(), Answer.end()));
    std::map<std::u16string, std::u16string> Result;
    auto* Tags = Document->As<TqvJSONobject>()->OldGetField(u"ListTags")->As<TqvJSONlist>();
    for (int I = 0; I < Tags->Count(); ++I) {
      auto* Tag = Tags->ItemAt(I)->As<TqvJSONobject>();
      Result[Tag->getString(u"name")] = Tag->getString(u"hash");
    }
    return Result;
  }

  void Connect(const std::u16string& Mode) {
    Router->InitConnect();
    Peer.WaitForLines(1);
    ASSERT_EQ(
        Ask(Request(u"OPCConnect", 1, u",\"syncMode\":\"" + Mode + u"\",\"responseTime\":100")),
        R"({"cmd":"OPCConnect","TransID":1,"OPCServerID":")" + Id + "\"}");
  }

  std::unique_ptr<SimServers::TControl> Sim;
  TLoopbackPeer Peer;
  TLogCapture Log;
  std::unique_ptr<TRouter> Router;
};

TEST_F(RouterOpcSimTest, ServersAreAnnouncedAndServedThroughTheirWorkers) {
  Router->InitConnect();
  const std::string Listed =
      R"({"id":")" + Id +
      R"(","name":"Tagrelay.OpcSim.1"},{"id":"{AB357784-DE10-4308-97FA-F9125F50728C}","name":"Tagrelay.OpcSimEdge.1"})";
  const std::string Online = Peer.WaitForLines(1).at(0);
#ifdef _WIN32
  EXPECT_NE(Online.find(Listed), std::string::npos) << Online;  // the prefix may hold others
#else
  EXPECT_EQ(Online, R"({"cmd":"serverOnline","uid":"uid-1","TransID":0,"ListServers":[)" + Listed +
                        "]}\r\n");
#endif

  Log.Clear();
  EXPECT_EQ(Ask(Request(u"OPCConnect", 1, uR"(,"syncMode":"sync","responseTime":100)")),
            R"({"cmd":"OPCConnect","TransID":1,"OPCServerID":")" + Id + "\"}");
  for (int Tries = 0; Tries < 500 && Log.Lines().size() < 5; ++Tries)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(Log.Lines(), TLogCapture::LinesOf({{LogInfo, u"GetCmd: OPCConnect", 1},
                                               SocketEcn,
                                               SocketWrite,
                                               {LogDone, u"OPCConnect", 1}}));

  const std::string Server = R"(,"OPCServerID":")" + Id;
  const std::pair<std::u16string, std::string> Cases[] = {
      {Request(u"OPCConnect", 2),
       R"({"cmd":"OPCConnect","TransID":2)" + Server + R"(","error":"OPC still initialize"})"},
      {Request(u"ping", 3), R"({"cmd":"ping","TransID":3)" + Server + R"(","OPCState":"Running"})"},
      {Request(u"OPCDisconnect", 4), R"({"cmd":"OPCDisconnect","TransID":4)" + Server + "\"}"},
      {Request(u"OPCConnect", 6, uR"(,"syncMode":"sync")"),
       R"({"cmd":"OPCConnect","TransID":6)" + Server + "\"}"},
  };
  for (const auto& [Line, Answer] : Cases) EXPECT_EQ(Ask(Line), Answer);
}

// Tags are addressed by the hashes of the browsed tag table.
TEST_F(RouterOpcSimTest, ValuesAndWritesGoThroughTheBrowsedTags) {
  Connect(u"sync");
  const auto Hash = Hashes();
  ASSERT_FALSE(Hash.empty());
  const std::u16string Integer = Hash.at(u"Diagnostics$#%Integer");
  const std::u16string Limited = Hash.at(u"Diagnostics$#%Limited");
  const std::string I8 = Utf8(Integer), L8 = Utf8(Limited);

  struct TCase {
    std::u16string Request;
    std::string Answer;
  };
  const TCase Cases[] = {
      {Request(u"setValue", 4, u",\"tagName\":\"" + Integer + u"\",\"value\":7"),
       R"({"cmd":"setValue","error":"Item not init","TransID":4,"tagName":")" + I8 + "\"}"},
      {Request(u"getValues", 5, u",\"tagNames\":[\"" + Integer + u"\",\"" + Limited + u"\"]"),
       R"({"cmd":"getValues","OPCServerID":")" + Id + R"(","TransID":5,"tagNames":[")" + I8 +
           R"(",")" + L8 + R"("],"values":["",""],"qualities":["",""]})"},
      {Request(u"setValue", 6, u",\"tagName\":\"" + Integer + u"\",\"value\":7"),
       R"({"cmd":"setValue","OPCServerID":")" + Id + R"(","TransID":6,"tagName":")" + I8 +
           R"(","value":"7"})"},
      {Request(u"setValue", 7, u",\"tagName\":\"" + Limited + u"\",\"value\":3.25"),
       R"({"cmd":"setValue","OPCServerID":")" + Id + R"(","TransID":7,"tagName":")" + L8 +
           R"(","value":"3.25"})"},
      {Request(u"setValue", 8, u",\"tagName\":\"" + Limited + u"\",\"value\":\"12,5\""),
       R"({"cmd":"setValue","OPCServerID":")" + Id + R"(","TransID":8,"tagName":")" + L8 +
           R"(","value":"12,5"})"},
  };
  for (const auto& C : Cases) EXPECT_EQ(Ask(C.Request), C.Answer);
}

TEST_F(RouterOpcSimTest, WritesUseTheDecimalSeparatorInForce) {
  Router->SetDecimalSeparatorProp(u',');
  Connect(u"sync");
  const auto Hash = Hashes();
  ASSERT_FALSE(Hash.empty());
  const std::u16string Limited = Hash.at(u"Diagnostics$#%Limited");
  Ask(Request(u"getValues", 2, u",\"tagNames\":[\"" + Limited + u"\"]"));
  EXPECT_EQ(Ask(Request(u"setValue", 3, u",\"tagName\":\"" + Limited + u"\",\"value\":3.25")),
            R"({"cmd":"setValue","OPCServerID":")" + Id + R"(","TransID":3,"tagName":")" +
                Utf8(Limited) + R"(","value":"3,25"})");
  Router->UpdateEvent();
  EXPECT_EQ(Ask(Request(u"getValues", 4, u",\"tagNames\":[\"" + Limited + u"\"]")),
            R"({"cmd":"getValues","OPCServerID":")" + Id + R"(","TransID":4,"tagNames":[")" +
                Utf8(Limited) + R"("],"values":["3.25"],"qualities":["1"]})");
}

// Update tasks go to connected workers only, and only while the link is usable. Each update checks
// the server's status, so the status calls show how many updates ran.
TEST_F(RouterOpcSimTest, UpdatesReachConnectedWorkersWhileTheLinkIsUp) {
  Connect(u"sync");
  int TransID = 10;
  // Status calls made by Ticks updates and one ping behind them (tasks run in order).
  auto StatusCalls = [&](int Ticks, bool LinkDown = false) {
    const unsigned long Before = Sim->CallCount(u"GetStatus");
    auto Client = ConnectTo(Peer);
    if (LinkDown) Router->SetTCPError();
    for (int I = 0; I < Ticks; ++I) Router->UpdateEvent();
    if (LinkDown) Router->SetTCPClientProp(Client);
    Ask(Request(u"ping", ++TransID));
    return Sim->CallCount(u"GetStatus") - Before;
  };
  const unsigned long PingOnly = StatusCalls(0);
  EXPECT_GT(StatusCalls(1), PingOnly);
  EXPECT_EQ(StatusCalls(3, true), PingOnly);

  Ask(Request(u"OPCDisconnect", 5));
  const unsigned long PingDisconnected = StatusCalls(0);
  EXPECT_EQ(StatusCalls(3), PingDisconnected);
}

// A worker held up by a slow server fills its queue: the next request and every tick are answered
// with the overload error.
TEST_F(RouterOpcSimTest, AFullQueueIsAnsweredPerRequestAndPerTick) {
  Connect(u"sync");
  Sim->SetFaults(uR"({"callDelayMs":1500})");
  const unsigned long Browses = Sim->CallCount(u"BrowseOPCItemIDs");
  Router->MakeRouting(Request(u"getTags", 2));
  // A call is counted as it starts: from then on the worker waits inside the slow server.
  for (int Tries = 0; Tries < 2000 && Sim->CallCount(u"BrowseOPCItemIDs") == Browses; ++Tries)
    std::this_thread::sleep_for(10ms);
  for (int I = 0; I < 100; ++I) Router->MakeRouting(Request(u"ping", 100 + I));
  const size_t Before = Peer.WaitForLines(0).size();
  Router->MakeRouting(Request(u"ping", 777));
  Router->UpdateEvent();
  Router->UpdateEvent();
  const auto Lines = Peer.WaitForLines(Before + 3);
  Sim->SetFaults(uR"({"callDelayMs":0})");
  ASSERT_GE(Lines.size(), Before + 3);
  EXPECT_EQ(Lines[Before],
            R"({"cmd":"ping","TransID":777,"error":"Task buffer overload, TransID=777"})" +
                std::string("\r\n"));
  const std::string Tick =
      R"({"cmd":"updateValues","TransID":0,"error":"Task buffer overload, TransID=0"})" +
      std::string("\r\n");
  EXPECT_EQ(Lines[Before + 1], Tick);
  EXPECT_EQ(Lines[Before + 2], Tick);
  // The queued tasks are still answered, in order, once the server is quick again.
  const auto All = Peer.WaitForLines(Before + 3 + 101, 60s);
  ASSERT_EQ(All.size(), Before + 3 + 101);
  EXPECT_EQ(All.back(), R"({"cmd":"ping","TransID":199,"OPCServerID":")" + Id +
                            R"(","OPCState":"Running"})" + std::string("\r\n"));
}

// In asynchronous mode the server's changes come back as value pushes with TransID 0.
TEST_F(RouterOpcSimTest, ChangesArePushedWithTransIdZero) {
  Connect(u"async");
  const auto Hash = Hashes();
  ASSERT_FALSE(Hash.empty());
  const std::u16string Fast = Hash.at(u"Diagnostics$#%Fast");
  Router->MakeRouting(Request(u"getValues", 2, u",\"tagNames\":[\"" + Fast + u"\"]"));
  const std::string Push = R"({"cmd":"getValues","OPCServerID":")" + Id +
                           R"(","TransID":0,"tagNames":[")" + Utf8(Fast) + R"("],"values":[")";
  for (int Tries = 0; Tries < 100; ++Tries) {
    for (const auto& Line : Peer.WaitForLines(0))
      if (Line.starts_with(Push) &&
          Line.ends_with(R"("],"qualities":["1"]})" + std::string("\r\n")))
        return;
    std::this_thread::sleep_for(100ms);
  }
  ADD_FAILURE() << "no value push arrived";
}

}  // namespace
