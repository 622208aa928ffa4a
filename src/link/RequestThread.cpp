#include "RequestThread.h"

#include <exception>

#include "LinkClient.h"
#include "LinkErrorText.h"
#include "LinkRouter.h"
#include "Logger.h"
#include "ThreadWait.h"

namespace {
// Polls of IsTerminated after which a reader that never fails counts as ended.
constexpr int32_t MaxExitPolls = 1000000;
}  // namespace

TRequestThread::TRequestThread(bool Suspended) {
  if (!Suspended) Start();
}

TRequestThread::~TRequestThread() {
  WaitFor();
}

void TRequestThread::SetTCPClientProp(std::shared_ptr<TLinkClient> IdTCPClient) {
  this->IdTCPClient = std::move(IdTCPClient);
}
void TRequestThread::SetUidProp(const std::u16string& Uid) {
  this->Uid = Uid;
}
void TRequestThread::SetLoggerProp(TLogger* Logger) {
  this->Logger = Logger;
}
void TRequestThread::SetRouterProp(TLinkRouter* Router) {
  this->Router = Router;
}
void TRequestThread::SetTryReconnectProp(TCallBack TryReconnect) {
  this->TryReconnect = std::move(TryReconnect);
}
void TRequestThread::SetKillConnectProp(TCallBack KillConnect) {
  this->KillConnect = std::move(KillConnect);
}
void TRequestThread::SetIncQueryProp(TCallBack IncQuery) {
  this->IncQuery = std::move(IncQuery);
}

void TRequestThread::InitConnect() {
  ExitCounter = 0;
}

void TRequestThread::Start() {
  if (!Thread.joinable()) Thread = std::thread([this] { Execute(); });
}

void TRequestThread::SetTCPError() {
  TCPErrorFlag = true;
}

void TRequestThread::Disconnect() {
  DestroyFlag = true;
}

bool TRequestThread::IsTerminated() {
  if (ExitCounter.fetch_add(1) + 1 > MaxExitPolls) return true;
  return IsDone;
}

void TRequestThread::WaitFor() {
  JoinPumping(Thread, Finished);
}

void TRequestThread::Execute() {
  // IsDone and DestroyFlag start cleared from construction: a Disconnect that comes before the
  // loop runs must not be lost.
  try {
    ReadLoop();
    Fail(u"");  // told to stop: the same quiet end as a read failing after Disconnect
  } catch (const std::exception& E) {
    Fail(LinkErrorText(E));
  } catch (...) {
    Fail(u"");
  }
  // The client lives on only while others still use it.
  IdTCPClient.reset();
  Finished.Set();
}

// Returns only when told to stop: lines already received are not routed then, since the
// connection is being torn down and each one would hold up the teardown.
void TRequestThread::ReadLoop() {
  while (!Terminated) {
    std::u16string Line = IdTCPClient->ReadLn();
    if (IncQuery) IncQuery();
    if (DestroyFlag) return;
    if (!Line.empty()) Router->MakeRouting(Line);
  }
}

void TRequestThread::Fail(const std::u16string& Message) {
  IsDone = true;
  try {
    Router->SetTCPClientProp(nullptr);
    if (IdTCPClient && !TCPErrorFlag && KillConnect) KillConnect();
    if (!DestroyFlag) {
      if (Logger) Logger->ToLog(LogError, Message, 0);
      if (TryReconnect) TryReconnect();
    }
  } catch (...) {
    // Nothing may escape the thread; the connection is lost either way.
  }
  Terminated = true;
}
