// A server that stops answering inside a call (the fake's GetStatus blocks until the test lets it
// go) holds up neither the other servers' answers nor the router's destruction. Native only: the
// workers reach the fake, registered on the test's thread, through the stand-in's class table.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "FakeOPCServer.h"
#include "LogCapture.h"
#include "LoopbackPeer.h"
#include "RegistryFill.h"
#include "Router.h"

namespace {

using namespace std::chrono_literals;

const std::u16string Classes = u"Software\\Classes\\";
const CLSID HungID = {0x7A11E5E3, 0x1234, 0x4ABC, {0x9D, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};
const std::string Hung = "{7A11E5E3-1234-4ABC-9DEF-0123456789AB}";
const std::string Other = "{0BADC0DE-0000-4000-8000-0000000000AB}";

std::u16string Wide(const std::string& Text) {
  return std::u16string(Text.begin(), Text.end());
}

class RouterHungTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Clean();
    for (const auto& [Key, Guid] :
         {std::pair{u"TgHung.Fake", Hung}, std::pair{u"TgHung.Other", Other}}) {
      ASSERT_TRUE(RegistryFill::CreateKey(Classes + Key + u"\\OPC"));
      ASSERT_TRUE(RegistryFill::SetDefaultString(Classes + Key + u"\\CLSID", Wide(Guid)));
    }
    State->OnGetStatus = [this] {
      if (!HangStatus) return;
      std::unique_lock<std::mutex> Guard(GateLock);
      Waiting = true;
      GateChanged.notify_all();
      GateChanged.wait(Guard, [this] { return Released; });
    };
    Registration = std::make_unique<TFakeRegistration>(HungID, State);
    Idle = State->LiveObjects.load();  // the class object
    Router = std::make_unique<TRouter>();
    Router->SetLoggerProp(Log.Logger());
    Router->SetTCPClientProp(ConnectTo(Peer));
    Router->InitConnect();
    ASSERT_EQ(Peer.WaitForLines(1).size(), 1u);
    Peer.ClearReceived();
  }
  void TearDown() override {
    Release();
    Router.reset();
    Registration.reset();
    RegistryFill::DeleteKey(Classes + u"TgHung.Fake");
    RegistryFill::DeleteKey(Classes + u"TgHung.Other");
  }
  static void Clean() {
    RegistryFill::DeleteKey(Classes + u"TgHung.Fake");
    RegistryFill::DeleteKey(Classes + u"TgHung.Other");
  }
  void Release() {
    {
      std::lock_guard<std::mutex> Guard(GateLock);
      Released = true;
    }
    GateChanged.notify_all();
  }
  bool WaitForHungCall() {
    std::unique_lock<std::mutex> Guard(GateLock);
    return GateChanged.wait_for(Guard, 20s, [this] { return Waiting; });
  }

  std::shared_ptr<TFakeState> State = std::make_shared<TFakeState>();
  std::unique_ptr<TFakeRegistration> Registration;
  int Idle = 0;
  std::atomic<bool> HangStatus{false};
  std::mutex GateLock;
  std::condition_variable GateChanged;
  bool Waiting = false;
  bool Released = false;
  TLoopbackPeer Peer;
  TLogCapture Log;
  std::unique_ptr<TRouter> Router;
};

TEST_F(RouterHungTest, HungServerHoldsUpNeitherOtherAnswersNorDestruction) {
  Router->MakeRouting(uR"({"cmd":"OPCConnect","TransID":1,"syncMode":"sync","OPCServerID":")" +
                      Wide(Hung) + u"\"}");
  ASSERT_EQ(Peer.WaitForLines(1).size(), 1u);
  HangStatus = true;
  Router->MakeRouting(uR"({"cmd":"ping","TransID":2,"OPCServerID":")" + Wide(Hung) + u"\"}");
  ASSERT_TRUE(WaitForHungCall());

  Router->MakeRouting(uR"({"cmd":"ping","TransID":3,"OPCServerID":")" + Wide(Other) + u"\"}");
  const auto Lines = Peer.WaitForLines(2);
  ASSERT_EQ(Lines.size(), 2u) << "the other server's answer waits for the hung one";
  EXPECT_EQ(Lines[1], R"({"cmd":"ping","TransID":3,"OPCServerID":")" + Other +
                          R"(","OPCState":"CommFault"})" + "\r\n");

  auto Destroying = std::async(std::launch::async, [this] { Router.reset(); });
  const bool Returned = Destroying.wait_for(20s) == std::future_status::ready;
  if (!Returned) Release();
  ASSERT_TRUE(Returned) << "destruction waits for the hung call";
  const auto Logged = Log.Lines();
  EXPECT_NE(std::find(Logged.begin(), Logged.end(),
                      TLogCapture::LinesOf({{LogError,
                                             u"OPC server TgHung.Fake does not answer: its worker "
                                             u"is abandoned",
                                             0}})
                          .front()),
            Logged.end());
  EXPECT_EQ(std::count_if(Logged.begin(), Logged.end(),
                          [](const std::u16string& Line) {
                            return Line.find(u"abandoned") != std::u16string::npos;
                          }),
            1)
      << "only the hung server's worker is left behind";

  Release();
  for (int Tries = 0; Tries < 2000 && State->LiveObjects.load() != Idle; ++Tries)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(State->LiveObjects.load(), Idle) << "the worker left behind ends once the call returns";
  EXPECT_EQ(Peer.WaitForLines(3, 200ms).size(), 2u) << "and answers nothing more";
}

}  // namespace
