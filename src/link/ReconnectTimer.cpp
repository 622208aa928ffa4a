#include "ReconnectTimer.h"

#include <chrono>

#include "LinkClient.h"
#include "LinkConnection.h"
#include "Logger.h"

namespace {
constexpr int WakeIntervalMs = 5000;
// How long a probe connection stays open.
constexpr auto ProbeHoldTime = std::chrono::milliseconds(100);
}  // namespace

TReconnectTimer::TReconnectTimer() : Thread([this] { Execute(); }) {}

TReconnectTimer::~TReconnectTimer() {
  Terminate();
  WaitFor();
}

void TReconnectTimer::Start() {
  isActive = true;
}

void TReconnectTimer::SetConnectHandleProp(TCallBack ConnectHandle) {
  std::lock_guard<std::mutex> Guard(SettingsLock);
  this->ConnectHandle = std::move(ConnectHandle);
}

void TReconnectTimer::SetDisonnectHandleProp(TDisconnectCallBack DisconnectHandle) {
  std::lock_guard<std::mutex> Guard(SettingsLock);
  this->DisconnectHandle = std::move(DisconnectHandle);
}

void TReconnectTimer::SetLoggerProp(TLogger* Logger) {
  std::lock_guard<std::mutex> Guard(SettingsLock);
  this->Logger = Logger;
}

void TReconnectTimer::SetSSLSecureProp(bool SSLSecure) {
  std::lock_guard<std::mutex> Guard(SettingsLock);
  this->SSLSecure = SSLSecure;
}

void TReconnectTimer::SetTlsPolicyProp(const TTlsPolicy& Policy) {
  std::lock_guard<std::mutex> Guard(SettingsLock);
  TlsPolicy = Policy;
}

void TReconnectTimer::SetTCPClientProp(const TLinkClient& IdTCPClient) {
  TProbeTarget Target{true, IdTCPClient.Host, IdTCPClient.Port};
  std::lock_guard<std::mutex> Guard(SettingsLock);
  this->IdTCPClient = std::move(Target);
}

void TReconnectTimer::Terminate() {
  Terminated = true;
  FTermEvent.Set();
  std::lock_guard<std::mutex> Guard(SettingsLock);
  if (Probing) Probing->AbortConnect();
}

// Publishes the probe's client (nullptr withdraws it); false once the thread has been told to
// stop, so a probe never starts after Terminate has looked for one.
bool TReconnectTimer::SetProbing(TLinkClient* Client) {
  std::lock_guard<std::mutex> Guard(SettingsLock);
  Probing = Client;
  return !Terminated;
}

void TReconnectTimer::WaitFor() {
  JoinPumping(Thread, Finished);
}

void TReconnectTimer::Execute() {
  while (!Terminated) {
    try {
      Turn();
    } catch (...) {
      // An attempt or probe reports its own failures; the clock keeps running.
    }
    FTermEvent.WaitFor(WakeIntervalMs);
  }
  Finished.Set();
}

void TReconnectTimer::Turn() {
  TLogger* Log;
  TCallBack Connect;
  TDisconnectCallBack Disconnect;
  TProbeTarget Target;
  bool WithTLS;
  TTlsPolicy Policy;
  {
    std::lock_guard<std::mutex> Guard(SettingsLock);
    Log = Logger;
    Connect = ConnectHandle;
    Disconnect = DisconnectHandle;
    Target = IdTCPClient;
    WithTLS = SSLSecure;
    Policy = TlsPolicy;
  }
  if (isActive.exchange(false)) {
    if (Log) Log->ToLog(LogInfo, u"Start and initialize client...", 0);
    if (Connect) Connect();
  } else if (Target.Known) {
    if (!TestConnection(Target, WithTLS, Policy)) {
      if (Disconnect) Disconnect(true);
      isActive = true;
    }
  }
}

bool TReconnectTimer::TestConnection(const TProbeTarget& Target, bool WithTLS,
                                     const TTlsPolicy& Policy) {
  try {
    TLinkConnection Probe(Target.Host, Target.Port, WithTLS, Policy);
    struct TWithdraw {
      TReconnectTimer& Timer;
      ~TWithdraw() { Timer.SetProbing(nullptr); }
    } Withdraw{*this};
    if (!SetProbing(&Probe.Client())) return false;
    Probe.Client().Connect();
    std::this_thread::sleep_for(ProbeHoldTime);
    Probe.Client().Disconnect();
    return true;
  } catch (...) {
    return false;
  }
}
