// Request lines through MakeRouting, without OPC servers: what is logged and the exact bytes that
// reach the SCADA side.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "LogCapture.h"
#include "LoopbackPeer.h"
#include "Router.h"

namespace {

using namespace std::chrono_literals;

struct TDispatchCase {
  std::u16string Line;
  std::vector<TLogEntry> Log;
  std::string Bytes;  // every line written, with CR LF
};

const TLogEntry FailParse{LogError, u"Fail parse request", 0};
const TLogEntry SocketEcn{LogInfo, u"Socket Ecn", 0};
const TLogEntry SocketWrite{LogInfo, u"Socket Write", 0};

TLogEntry GetCmd(const std::u16string& Cmd, int32_t TransID) {
  return {LogInfo, u"GetCmd: " + Cmd, TransID};
}

class RouterDispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Router.SetLoggerProp(Log.Logger());
    Router.SetTCPClientProp(ConnectTo(Peer));
  }

  // Every byte written so far, once a final marker line has arrived behind it.
  std::string AllWritten() {
    const std::string Marker =
        "{\"cmd\":\"ping\",\"TransID\":1,\"OPCServerID\":\"end\",\"OPCState\":\"Running\"}\r\n";
    Router.PingAnswer(u"end", 1, 1);
    for (int Tries = 0; Tries < 2000 && !Peer.Received().ends_with(Marker); ++Tries)
      std::this_thread::sleep_for(10ms);
    std::string All = Peer.Received();
    EXPECT_TRUE(All.ends_with(Marker));
    return All.substr(0, All.size() - std::min(All.size(), Marker.size()));
  }

  TLoopbackPeer Peer;
  TLogCapture Log;
  TRouter Router;
};

TEST_F(RouterDispatchTest, RequestsAreLoggedRejectedOrAnsweredAsTheyShouldBe) {
  const TDispatchCase Cases[] = {
      // Unknown OPC server, unknown command, missing command: only the command is logged.
      {uR"({"cmd":"ping","TransID":5,"OPCServerID":"{none}"})", {GetCmd(u"ping", 5)}, ""},
      {uR"({"cmd":"Ping","TransID":5,"OPCServerID":"{none}"})", {GetCmd(u"Ping", 5)}, ""},
      {uR"({"TransID":2})", {GetCmd(u"", 2)}, ""},
      {uR"({"cmd":"getTags"})", {GetCmd(u"getTags", 0)}, ""},
      {uR"({"cmd":"getValues","TransID":3,"OPCServerID":"{none}","tagNames":[]})",
       {GetCmd(u"getValues", 3)},
       ""},
      {uR"({"cmd":"setValue","TransID":3,"OPCServerID":"{none}","tagName":"t","value":"ON"})",
       {GetCmd(u"setValue", 3)},
       ""},
      // Unreadable requests.
      {u"not json", {FailParse}, ""},
      {u"[1,2]", {FailParse}, ""},
      {uR"({"cmd":5})", {FailParse}, ""},
      {uR"({"cmd":"ping","TransID":"5","OPCServerID":"{none}"})", {FailParse}, ""},
      {uR"({"cmd":"getValues","TransID":3,"OPCServerID":"{none}"})",
       {GetCmd(u"getValues", 3), FailParse},
       ""},
      {uR"({"cmd":"getValues","TransID":3,"OPCServerID":"{none}","tagNames":["a",1]})",
       {GetCmd(u"getValues", 3), FailParse},
       ""},
      {uR"({"cmd":"getValues","TransID":3,"OPCServerID":"{none}","tagNames":"a"})",
       {GetCmd(u"getValues", 3), FailParse},
       ""},
      {uR"({"cmd":"OPCConnect","TransID":4,"OPCServerID":7})",
       {GetCmd(u"OPCConnect", 4), FailParse},
       ""},
      {uR"({"cmd":"OPCConnect","TransID":4,"OPCServerID":"{none}","responseTime":"1"})",
       {GetCmd(u"OPCConnect", 4), FailParse},
       ""},
      {uR"({"cmd":"setValue","TransID":6,"OPCServerID":null,"value":true})",
       {GetCmd(u"setValue", 6), FailParse},
       ""},
      // A value neither number nor string: the -16 answer, whether or not the server exists.
      {uR"({"cmd":"setValue","TransID":6,"OPCServerID":"{none}","tagName":"t","value":true})",
       {GetCmd(u"setValue", 6),
        {LogError, u"Error parsing write value", 6},
        SocketEcn,
        SocketWrite},
       "{\"cmd\":\"setValue\",\"TransID\":6,\"error\":\"Error parsing write value, "
       "TransID=6\"}\r\n"},
      {uR"({"cmd":"setValue","OPCServerID":"{none}","tagName":"t","value":[1]})",
       {GetCmd(u"setValue", 0),
        {LogError, u"Error parsing write value", 0},
        SocketEcn,
        SocketWrite},
       "{\"cmd\":\"setValue\",\"TransID\":0,\"error\":\"Error parsing write value, "
       "TransID=0\"}\r\n"},
      // A number beyond the range of a double cannot be read either.
      {uR"({"cmd":"setValue","TransID":9,"OPCServerID":"{none}","tagName":"t","value":1e400})",
       {GetCmd(u"setValue", 9),
        {LogError, u"Error parsing write value", 9},
        SocketEcn,
        SocketWrite},
       "{\"cmd\":\"setValue\",\"TransID\":9,\"error\":\"Error parsing write value, "
       "TransID=9\"}\r\n"},
  };
  std::string Expected;
  for (const auto& C : Cases) {
    Log.Clear();
    Router.MakeRouting(C.Line);
    EXPECT_EQ(Log.Lines(), TLogCapture::LinesOf(C.Log))
        << std::string(C.Line.begin(), C.Line.end());
    Expected += C.Bytes;
  }
  EXPECT_EQ(AllWritten(), Expected);
}

// With writes disabled, every "setValue" (readable value or not, known server or not) gets the
// answer of a write the OPC server refused; the other requests go on as before.
TEST_F(RouterDispatchTest, DisabledWritesAreRefusedAsAFailedWrite) {
  Router.SetAllowWritesProp(false);
  const std::u16string Lines[] = {
      uR"({"cmd":"setValue","TransID":3,"OPCServerID":"{none}","tagName":"t","value":"ON"})",
      uR"({"cmd":"setValue","TransID":4,"OPCServerID":"{none}","tagName":"u","value":true})",
  };
  for (const auto& Line : Lines) Router.MakeRouting(Line);
  Router.MakeRouting(uR"({"cmd":"ping","TransID":5,"OPCServerID":"{none}"})");
  const TLogEntry Disabled3{LogError, u"Write refused: writes are disabled by AllowWrites", 3};
  const TLogEntry Disabled4{LogError, u"Write refused: writes are disabled by AllowWrites", 4};
  EXPECT_EQ(Log.Lines(), TLogCapture::LinesOf({GetCmd(u"setValue", 3),
                                               Disabled3,
                                               {LogError, u"Write item error", 3},
                                               SocketEcn,
                                               SocketWrite,
                                               GetCmd(u"setValue", 4),
                                               Disabled4,
                                               {LogError, u"Write item error", 4},
                                               SocketEcn,
                                               SocketWrite,
                                               GetCmd(u"ping", 5)}));
  EXPECT_EQ(AllWritten(),
            "{\"cmd\":\"setValue\",\"error\":\"Write item error\",\"TransID\":3,\"tagName\":\"t\"}"
            "\r\n"
            "{\"cmd\":\"setValue\",\"error\":\"Write item error\",\"TransID\":4,\"tagName\":\"u\"}"
            "\r\n");
}

}  // namespace
