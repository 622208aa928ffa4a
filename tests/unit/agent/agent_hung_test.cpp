// The agent stops with an OPC server hung inside a call: the link closes, the stuck worker is
// abandoned after the router's shared deadline, and the file log is written out. Native only: the
// worker reaches the fake server, registered on the test's thread, through the stand-in's class
// table.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "AgentTestSupport.h"
#include "FakeOPCServer.h"
#include "Logger.h"
#include "LoopbackServer.h"
#include "RegistryFill.h"

namespace {

using namespace std::chrono_literals;

const std::u16string Key = u"Software\\Classes\\TgAgentHung.Fake";
const CLSID HungID = {0x7A11E5E4, 0x1234, 0x4ABC, {0x9D, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};
const std::string Hung = "{7A11E5E4-1234-4ABC-9DEF-0123456789AB}";

std::u16string Wide(const std::string& Text) {
  return std::u16string(Text.begin(), Text.end());
}

TEST(AgentHung, StopsWithAServerHungInsideACallAndWritesOutItsLog) {
  RegistryFill::DeleteKey(Key);
  ASSERT_TRUE(RegistryFill::CreateKey(Key + u"\\OPC"));
  ASSERT_TRUE(RegistryFill::SetDefaultString(Key + u"\\CLSID", Wide(Hung)));
  auto State = std::make_shared<TFakeState>();
  std::mutex GateLock;
  std::condition_variable GateChanged;
  bool Waiting = false, Released = false;
  std::atomic<bool> Hang{false};
  State->OnGetStatus = [&] {
    if (!Hang) return;
    std::unique_lock<std::mutex> Guard(GateLock);
    Waiting = true;
    GateChanged.notify_all();
    GateChanged.wait(Guard, [&] { return Released; });
  };
  auto Release = [&] {
    {
      std::lock_guard<std::mutex> Guard(GateLock);
      Released = true;
    }
    GateChanged.notify_all();
  };
  TFakeRegistration Registration(HungID, State);

  TScratchFolder Folder("hung");
  TLoopbackServer Scada;
  const std::string Port = std::to_string(Scada.Port());
  auto Ini = std::make_shared<TMemoryIni>();
  Ini->Values = {{u"KelScadaIp", u"127.0.0.1"}, {u"KelScadaPort", Wide(Port)}, {u"uid", u"42"}};
  const auto LogPath = Folder.Path() / "log" / "tagrelay.log";
  TLogger Logger;
  TAgent Agent(Logger, MemoryOptions(Ini, {Folder.Path() / "tagrelayConfig.ini", LogPath,
                                           Folder.Path() / "crash"}));
  ASSERT_TRUE(Agent.ReadSettings());
  Agent.Start();
  auto Peer = Scada.Accept(20000);
  ASSERT_TRUE(Peer);
  std::string Line;
  ASSERT_TRUE(Peer->ReadLine(Line, 10000));
  ASSERT_NE(Line.find(Hung), std::string::npos) << Line;
  Peer->Send(R"({"cmd":"OPCConnect","TransID":1,"syncMode":"sync","OPCServerID":")" + Hung +
             "\"}\r\n");
  ASSERT_TRUE(Peer->ReadLine(Line, 10000));
  Hang = true;
  Peer->Send(R"({"cmd":"ping","TransID":2,"OPCServerID":")" + Hung + "\"}\r\n");
  {
    std::unique_lock<std::mutex> Guard(GateLock);
    ASSERT_TRUE(GateChanged.wait_for(Guard, 20s, [&] { return Waiting; }));
  }

  auto Stopping = std::async(std::launch::async, [&] { Agent.Stop(); });
  const bool Returned = Stopping.wait_for(20s) == std::future_status::ready;
  if (!Returned) Release();
  ASSERT_TRUE(Returned) << "the stop waits for the hung call";
  EXPECT_TRUE(Peer->WaitClosed(10000));
  const std::string Text = ReadFileText(LogPath);
  EXPECT_NE(Text.find("TgAgentHung.Fake does not answer: its worker is abandoned"),
            std::string::npos)
      << Text;

  Release();
  for (int Tries = 0; Tries < 2000 && State->LiveObjects.load() > 1; ++Tries)
    std::this_thread::sleep_for(10ms);
  RegistryFill::DeleteKey(Key);
}

}  // namespace
