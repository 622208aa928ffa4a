#include "FakeRouter.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "LinkClient.h"
#include "Logger.h"

int TFakeRouterState::Count(const std::string& Call) {
  std::lock_guard<std::mutex> Guard(Lock);
  return static_cast<int>(std::count(Calls.begin(), Calls.end(), Call));
}

std::vector<std::string> TFakeRouterState::Snapshot() {
  std::lock_guard<std::mutex> Guard(Lock);
  return Calls;
}

bool TFakeRouterState::WaitCount(const std::string& Call, int N, int TimeoutMs) {
  std::unique_lock<std::mutex> Guard(Lock);
  return Changed.wait_for(Guard, std::chrono::milliseconds(TimeoutMs),
                          [&] { return std::count(Calls.begin(), Calls.end(), Call) >= N; });
}

void TFakeRouterState::ReleaseRouting() {
  {
    std::lock_guard<std::mutex> Guard(Lock);
    HoldRouting = false;
  }
  Changed.notify_all();
}

TFakeRouter::~TFakeRouter() {
  if (State->WorkerLogsOnDestroy && State->Logger) {
    std::thread Worker([this] { State->Logger->ToLog(LogInfo, u"worker stopped", 0); });
    Worker.join();
  }
  Record("destroyed");
  State->Destroyed = true;
  std::lock_guard<std::mutex> Guard(State->Lock);
  State->Client.reset();
}

void TFakeRouter::Record(const std::string& Call) {
  if (State->Destroyed) ++State->CallsAfterDestroy;
  {
    std::lock_guard<std::mutex> Guard(State->Lock);
    State->Calls.push_back(Call);
  }
  State->Changed.notify_all();
}

void TFakeRouter::SetLoggerProp(TLogger* Logger) {
  std::lock_guard<std::mutex> Guard(State->Lock);
  State->Logger = Logger;
}

void TFakeRouter::SetUidProp(const std::u16string&) {}

void TFakeRouter::SetTCPClientProp(std::shared_ptr<TLinkClient> IdTCPClient) {
  if (!IdTCPClient && State->CutOffDelayMs > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(State->CutOffDelayMs));
  Record(IdTCPClient ? "client" : "none");
  std::lock_guard<std::mutex> Guard(State->Lock);
  State->Client = std::move(IdTCPClient);
}

void TFakeRouter::SetTCPError() {
  Record("error");
}

// Like the router: greets on the connection just handed over and logs the greeting.
void TFakeRouter::InitConnect() {
  State->InInitConnect = true;
  Record("init");
  if (State->InitWaitsForFirstLine) {
    std::unique_lock<std::mutex> Guard(State->Lock);
    State->Changed.wait_for(Guard, std::chrono::seconds(4), [this] {
      return std::any_of(State->Calls.begin(), State->Calls.end(),
                         [](const std::string& C) { return C.rfind("route:", 0) == 0; });
    });
  }
  if (State->InitConnectDelayMs > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(State->InitConnectDelayMs));
  std::shared_ptr<TLinkClient> Client;
  TLogger* Logger;
  {
    std::lock_guard<std::mutex> Guard(State->Lock);
    Client = State->Client;
    Logger = State->Logger;
  }
  Record("greet");
  if (Client) {
    std::lock_guard<std::mutex> Guard(WriteLock);
    try {
      Client->DefStringEncoding = TTextEncoding::Utf8;
      Client->WriteLn(u"{\"cmd\":\"serverOnline\"}");
    } catch (...) {
    }
  }
  if (Logger) Logger->ToLog(LogDone, u"GetListServers", 0);
  State->InInitConnect = false;
  if (State->InitConnectFails) throw std::runtime_error("scan failed");
}

void TFakeRouter::MakeRouting(const std::u16string& Msg) {
  Record("route:" + EncodeUtf8(Msg));
  std::unique_lock<std::mutex> Guard(State->Lock);
  State->Changed.wait_for(Guard, std::chrono::seconds(5), [this] { return !State->HoldRouting; });
}
