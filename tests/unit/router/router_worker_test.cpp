// Requests that reach a worker and the answers its results become: exact line bytes and log
// entries. The servers here are registered for discovery but have no COM object behind them, so
// every worker result is the one for an unreachable server.
#include <gtest/gtest.h>

#include <thread>

#include "LogCapture.h"
#include "LoopbackPeer.h"
#include "RegistryFill.h"
#include "Router.h"

namespace {

using namespace std::chrono_literals;

const std::u16string Classes = u"Software\\Classes\\";
const std::string Id = "{0BADC0DE-0000-4000-8000-0000000000AA}";
const std::u16string Id16(Id.begin(), Id.end());

const TLogEntry SocketEcn{LogInfo, u"Socket Ecn", 0};
const TLogEntry SocketWrite{LogInfo, u"Socket Write", 0};

TLogEntry GetCmd(const std::u16string& Cmd, int32_t TransID) {
  return {LogInfo, u"GetCmd: " + Cmd, TransID};
}

class RouterWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Clean();
    const std::pair<std::u16string, std::u16string> Servers[] = {{u"TgWork.Sim", Id16},
                                                                 {u"TgWork.Bad", u"x"}};
    for (const auto& [Key, Guid] : Servers) {
      ASSERT_TRUE(RegistryFill::CreateKey(Classes + Key + u"\\OPC"));
      ASSERT_TRUE(RegistryFill::SetDefaultString(Classes + Key + u"\\CLSID", Guid));
    }
    Router = std::make_unique<TRouter>();
    Router->SetLoggerProp(Log.Logger());
    Router->SetTCPClientProp(ConnectTo(Peer));
    Router->InitConnect();
    ASSERT_EQ(Peer.WaitForLines(1).size(), 1u);
    Peer.ClearReceived();
    Log.Clear();
  }
  void TearDown() override {
    Router.reset();
    Clean();
  }
  static void Clean() {
    RegistryFill::DeleteKey(Classes + u"TgWork.Sim");
    RegistryFill::DeleteKey(Classes + u"TgWork.Bad");
  }

  // Waits until the log holds at least Count lines.
  std::vector<std::u16string> WaitForLog(size_t Count) {
    for (int Tries = 0; Tries < 2000 && Log.Lines().size() < Count; ++Tries)
      std::this_thread::sleep_for(10ms);
    return Log.Lines();
  }

  TLoopbackPeer Peer;
  TLogCapture Log;
  std::unique_ptr<TRouter> Router;
};

TEST_F(RouterWorkerTest, WorkerResultsBecomeTheirAnswers) {
  struct TCase {
    std::u16string Request;
    std::string Answer;
    std::vector<TLogEntry> Log;
  };
  auto Error = [](const std::u16string& Text, int32_t TransID) {
    return TLogEntry{LogError, Text, TransID};
  };
  const std::u16string S = uR"(,"OPCServerID":")" + Id16 + u"\"";
  const TCase Cases[] = {
      {uR"({"cmd":"ping","TransID":19)" + S + u"}",
       R"({"cmd":"ping","TransID":19,"OPCServerID":")" + Id + R"(","OPCState":"CommFault"})",
       {GetCmd(u"ping", 19), SocketEcn, SocketWrite, {LogDone, u"Ping", 19}}},
      {uR"({"cmd":"OPCConnect","TransID":13,"syncMode":"sync","responseTime":500)" + S + u"}",
       R"({"cmd":"OPCConnect","TransID":13,"OPCServerID":")" + Id +
           R"(","error":"Unable to connect OPC server"})",
       {GetCmd(u"OPCConnect", 13), Error(u"Unable to connect OPC server", 13), SocketEcn,
        SocketWrite}},
      {uR"({"cmd":"OPCConnect","TransID":12,"OPCServerID":"x"})",
       R"({"cmd":"OPCConnect","TransID":12,"OPCServerID":"x","error":"Wrong OPC Class ID"})",
       {GetCmd(u"OPCConnect", 12), Error(u"Wrong OPC Class ID", 12), SocketEcn, SocketWrite}},
      {uR"({"cmd":"getTags","TransID":14)" + S + u"}",
       R"({"cmd":"getTags","TransID":14,"OPCServerID":")" + Id +
           R"(","error":"OPC Server not initialize"})",
       {GetCmd(u"getTags", 14), Error(u"OPC Server not initialize", 14), SocketEcn, SocketWrite}},
      // Before any getValues: the tag is in no group.
      {uR"({"cmd":"setValue","TransID":16,"tagName":"h1","value":5)" + S + u"}",
       R"({"cmd":"setValue","error":"Item not init","TransID":16,"tagName":"h1"})",
       {GetCmd(u"setValue", 16), Error(u"Item not init", 16), SocketEcn, SocketWrite}},
      {uR"({"cmd":"getValues","TransID":15,"tagNames":["h1","h2"])" + S + u"}",
       R"({"cmd":"getValues","TransID":15,"error":"Fail create OPC group","tagNames":["h1","h2"]})",
       {GetCmd(u"getValues", 15), Error(u"Fail create OPC group", 15), SocketEcn, SocketWrite}},
      {uR"({"cmd":"OPCDisconnect","TransID":18)" + S + u"}",
       R"({"cmd":"OPCDisconnect","TransID":18,"OPCServerID":")" + Id + R"("})",
       {GetCmd(u"OPCDisconnect", 18), SocketEcn, SocketWrite, {LogDone, u"OPCDisconnect", 18}}},
  };
  size_t Lines = 0;
  for (const auto& C : Cases) {
    Log.Clear();
    Router->MakeRouting(C.Request);
    const auto Written = Peer.WaitForLines(++Lines);
    ASSERT_EQ(Written.size(), Lines) << C.Answer;
    EXPECT_EQ(Written.back(), C.Answer + "\r\n");
    const auto Expected = TLogCapture::LinesOf(C.Log);
    EXPECT_EQ(WaitForLog(Expected.size()), Expected) << C.Answer;
  }
}

}  // namespace
