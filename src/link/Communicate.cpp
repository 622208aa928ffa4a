#include "Communicate.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "LinkClient.h"
#include "LinkConnection.h"
#include "LinkErrorText.h"
#include "LinkRouter.h"
#include "Logger.h"
#include "ReconnectTimer.h"
#include "RequestThread.h"

namespace {
// Pause between a connection coming up and its reader starting.
constexpr auto ConnectedPause = std::chrono::milliseconds(500);
// Pause in a restart between disconnecting the client and releasing it.
constexpr auto RestartPause = std::chrono::milliseconds(1000);

// Raised inside an attempt that the final teardown or a restart has overtaken.
struct TAttemptAborted : std::runtime_error {
  TAttemptAborted() : std::runtime_error("") {}
};
}  // namespace

TCommunicate::TCommunicate(std::unique_ptr<TLinkRouter> Router)
    : ReconnectTimer(std::make_unique<TReconnectTimer>()) {
  ReconnectTimer->SetConnectHandleProp([this] { Connect(); });
  ReconnectTimer->SetDisonnectHandleProp([this](bool Restart) { Disconnect(Restart); });
  this->Router = std::move(Router);
  this->Router->SetCountersProp(&LinkCounters);
  KillFlag = false;
}

TCommunicate::~TCommunicate() {
  FinalTeardown();
}

void TCommunicate::SetHostProp(const std::u16string& Host) {
  {
    std::lock_guard<std::mutex> Guard(Lock);
    this->Host = Host;
  }
  SettingGiven(HostGiven);
}

void TCommunicate::SetPortProp(int32_t Port) {
  {
    std::lock_guard<std::mutex> Guard(Lock);
    this->Port = Port;
  }
  SettingGiven(PortGiven);
}

void TCommunicate::SetUidProp(const std::u16string& Uid) {
  {
    std::lock_guard<std::mutex> Guard(Lock);
    this->Uid = Uid;
  }
  Router->SetUidProp(Uid);
  SettingGiven(UidGiven);
}

void TCommunicate::SetLoggerProp(TLogger* Logger) {
  this->Logger = Logger;
  Router->SetLoggerProp(Logger);
  ReconnectTimer->SetLoggerProp(Logger);
  SettingGiven(LoggerGiven);
}

void TCommunicate::SetSSLSecureProp(bool SSLSecure) {
  {
    std::lock_guard<std::mutex> Guard(Lock);
    this->SSLSecure = SSLSecure;
  }
  ReconnectTimer->SetSSLSecureProp(SSLSecure);
  SettingGiven(SSLSecureGiven);
}

void TCommunicate::SetIncQueryProp(TCallBack IncQuery) {
  {
    std::lock_guard<std::mutex> Guard(Lock);
    this->IncQuery = std::move(IncQuery);
  }
  SettingGiven(IncQueryGiven);
}

void TCommunicate::SetTlsPolicyProp(const TTlsPolicy& Policy) {
  {
    std::lock_guard<std::mutex> Guard(Lock);
    TlsPolicy = Policy;
  }
  ReconnectTimer->SetTlsPolicyProp(Policy);
}

void TCommunicate::SetAllowWritesProp(bool AllowWrites) {
  Router->SetAllowWritesProp(AllowWrites);
}

void TCommunicate::SetAsyncGoodQualityProp(bool AnyGood) {
  Router->SetAsyncGoodQualityProp(AnyGood);
}

void TCommunicate::SetBrowseElementsProp(bool BrowseElements) {
  Router->SetBrowseElementsProp(BrowseElements);
}

// Handing over the log arms the timer; the arming waits until every setting is in, so the first
// attempt never runs with a setting still missing.
void TCommunicate::SettingGiven(TSetting Setting) {
  bool Arm;
  {
    std::lock_guard<std::mutex> Guard(Lock);
    SettingsGiven |= Setting;
    bool Ready = SettingsGiven == AllGiven;
    Arm = Ready && (Setting == LoggerGiven || !FirstAttemptArmed);
    if (Arm) FirstAttemptArmed = true;
  }
  if (Arm) ReconnectTimer->Start();
}

void TCommunicate::TryReconnect() {
  ReconnectTimer->Start();
}

void TCommunicate::Connect() {
  std::lock_guard<TPumpingLock> AttemptGuard(ConnectLock);
  std::u16string AttemptHost;
  int32_t AttemptPort;
  bool AttemptTLS;
  TTlsPolicy AttemptPolicy;
  {
    std::lock_guard<std::mutex> Guard(Lock);
    // A connection that is up (an arming that came late) or a closing program: nothing to do.
    if (Closing || IdTCPClient) return;
    AttemptHost = Host;
    AttemptPort = Port;
    AttemptTLS = SSLSecure;
    AttemptPolicy = TlsPolicy;
  }
  // Settings that ask for a checked server never lead to an unchecked link.
  std::u16string Refusal = AttemptPolicy.Error;
  if (Refusal.empty() && AttemptPolicy.ChecksServer() && !AttemptTLS)
    Refusal = u"TLS: TlsVerify and TlsPin need IsSSLSecure=1";
  if (!Refusal.empty()) {
    Log(LogError, Refusal);
    TryReconnect();
    return;
  }
  // The previous connection's reader has lost its client; it ends before a new one exists.
  JoinRequestThread();
  {
    std::lock_guard<std::mutex> Guard(StatusLock);
    LinkStatus.Host = AttemptHost;
    LinkStatus.Port = static_cast<uint16_t>(AttemptPort);
    LinkStatus.TLS = AttemptTLS;
  }
  SetState(TLinkState::Connecting);

  std::shared_ptr<TLinkClient> Client;
  try {
    auto Link = std::make_shared<TLinkConnection>(AttemptHost, static_cast<uint16_t>(AttemptPort),
                                                  AttemptTLS, AttemptPolicy);
    Client = TLinkConnection::ShareClient(Link);
    std::weak_ptr<TLinkClient> Opening = Client;
    Client->OnConnected = [this, Opening](TLinkClient&) { ClientConnected(Opening.lock()); };
    bool AbortNow;
    {
      std::lock_guard<std::mutex> Guard(Lock);
      IdTCPClient = Client;
      // A restart or the final teardown that came before the client was published.
      AbortNow = Closing || AbortAttempt;
    }
    if (AbortNow) Client->AbortConnect();
    Client->Connect();
    if (EverConnected) TLinkCounters::Add(LinkCounters.Reconnects);
    EverConnected = true;
    SetState(TLinkState::Connected);
    Log(LogDone, u"Connect to host");
  } catch (const std::exception& E) {
    bool Aborted;
    {
      std::lock_guard<std::mutex> Guard(Lock);
      Aborted = Closing;
    }
    // An attempt overtaken by a restart has no error of its own to tell.
    const bool Overtaken = dynamic_cast<const TAttemptAborted*>(&E) != nullptr;
    const std::u16string Error = LinkErrorText(E);
    SetState(Aborted ? TLinkState::Idle : TLinkState::Waiting, Overtaken ? nullptr : &Error);
    if (!Aborted && !Overtaken) Log(LogError, Error);
    Router->SetTCPClientProp(nullptr);
    if (Client) ReleaseClient(Client.get());
    if (!Aborted) TryReconnect();
  }
}

void TCommunicate::ClientConnected(const std::shared_ptr<TLinkClient>& Client) {
  // A restart (Apply) or the final teardown ends the pause at once rather than waiting for it.
  {
    std::unique_lock<std::mutex> Guard(Lock);
    if (AttemptOvertaken.wait_for(Guard, ConnectedPause,
                                  [this] { return Closing || AbortAttempt; }))
      throw TAttemptAborted();
  }
  StartRequestThread(Client);
  ReconnectTimer->SetTCPClientProp(*Client);
  Router->ExpectGreeting();
  Router->SetTCPClientProp(Client);
  Router->InitConnect();
}

void TCommunicate::StartRequestThread(const std::shared_ptr<TLinkClient>& Client) {
  auto Reader = std::make_unique<TRequestThread>(true);
  std::lock_guard<std::mutex> Guard(Lock);
  if (Closing) throw TAttemptAborted();
  Reader->SetTCPClientProp(Client);
  const TLinkClient* Released = Client.get();
  Reader->SetKillConnectProp([this, Released] { KillConnect(Released); });
  Reader->SetLoggerProp(Logger);
  Reader->SetTryReconnectProp([this] { TryReconnect(); });
  Reader->SetUidProp(Uid);
  Reader->SetRouterProp(Router.get());
  Reader->SetIncQueryProp(IncQuery);
  Reader->InitConnect();
  Reader->Start();
  RequestThread = std::move(Reader);
}

// The reader's request after its read failed: release its client, unless a teardown is handling
// the client itself.
void TCommunicate::KillConnect(const TLinkClient* Client) {
  if (KillFlag) return;
  const std::u16string Error = u"The connection was lost.";
  SetState(TLinkState::Waiting, &Error);
  ReleaseClient(Client);
}

// Drops the manager's share of the client, if it is still the current one, after closing it so
// that every reader and writer on it fails and lets go.
void TCommunicate::ReleaseClient(const TLinkClient* Client) {
  std::shared_ptr<TLinkClient> Released;
  {
    std::lock_guard<std::mutex> Guard(Lock);
    if (!IdTCPClient || IdTCPClient.get() != Client) return;
    Released = std::move(IdTCPClient);
  }
  try {
    Released->Disconnect();
  } catch (...) {
    // Closing a connection that already failed may fail again; it is released all the same.
  }
}

void TCommunicate::JoinRequestThread() {
  std::unique_ptr<TRequestThread> Ended;
  {
    std::lock_guard<std::mutex> Guard(Lock);
    Ended = std::move(RequestThread);
  }
  if (Ended) Ended->WaitFor();
}

void TCommunicate::Disconnect(bool Restart) {
  KillFlag = true;
  if (Restart) {
    this->Restart();
  } else {
    FinalTeardown();
  }
  KillFlag = false;
}

void TCommunicate::Restart() {
  std::shared_ptr<TLinkClient> Connecting;
  {
    std::lock_guard<std::mutex> Guard(Lock);
    if (Closing) return;  // the final teardown handles the connection
    Connecting = IdTCPClient;
    AbortAttempt = true;
  }
  AttemptOvertaken.notify_all();
  // An attempt still opening its connection fails at once (and arms the next one) instead of
  // keeping this thread, perhaps the window thread, waiting for the network.
  if (Connecting) Connecting->AbortConnect();
  ConnectLock.LockPumping();
  std::lock_guard<TPumpingLock> AttemptGuard(ConnectLock, std::adopt_lock);
  {
    std::lock_guard<std::mutex> Guard(Lock);
    AbortAttempt = false;
  }
  Router->SetTCPError();
  std::shared_ptr<TLinkClient> Client;
  TRequestThread* Reader;
  {
    std::lock_guard<std::mutex> Guard(Lock);
    Client = IdTCPClient;
    // Only Connect (excluded by ConnectLock) and the final teardown destroy the reader.
    Reader = RequestThread.get();
  }
  if (Reader) Reader->SetTCPError();
  if (Client) {
    try {
      Client->Disconnect();
    } catch (...) {
      Log(LogInfo, u"Disconnect Error!!");
    }
    // The window thread (Apply) keeps taking the entries of the threads that log meanwhile.
    SleepPumping(static_cast<int>(RestartPause.count()));
    std::lock_guard<std::mutex> Guard(Lock);
    if (IdTCPClient == Client) IdTCPClient.reset();
  }
  Router->SetTCPClientProp(nullptr);
  SetState(TLinkState::Waiting);
}

// Stops the timer, cuts the connection, waits for the timer and the reader threads, and only
// then destroys the router, which they may still be using.
void TCommunicate::FinalTeardown() {
  {
    std::lock_guard<std::mutex> Guard(Lock);
    if (Closing) return;
    Closing = true;
  }
  AttemptOvertaken.notify_all();
  ReconnectTimer->Terminate();
  CutOff();
  ReconnectTimer->WaitFor();
  // An attempt that was running may have opened a connection before it saw the close.
  CutOff();
  JoinRequestThread();
  DestroyRouter();
  ReconnectTimer.reset();
  SetState(TLinkState::Idle);
}

// The router's own threads (OPC workers) may log while the router stops them; it is destroyed on
// a thread of its own so that this thread, the window thread, keeps taking their entries.
void TCommunicate::DestroyRouter() {
  std::unique_ptr<TWaitEvent> Destroyed;
  std::thread Destroyer;
  try {
    Destroyed = std::make_unique<TWaitEvent>();
    Destroyer = std::thread([this, Event = Destroyed.get()] {
      Router.reset();
      Event->Set();
    });
  } catch (const std::system_error&) {
    // No thread or event to spare: destroyed here, on a thread that cannot take log entries
    // while it waits, so the router logs nothing from now on and what was sent is taken first.
    Router->SetLoggerProp(nullptr);
    PumpSentMessages();
    Router.reset();
    return;
  }
  JoinPumping(Destroyer, *Destroyed);
}

void TCommunicate::CutOff() {
  Router->SetTCPError();
  std::shared_ptr<TLinkClient> Client;
  {
    std::lock_guard<std::mutex> Guard(Lock);
    Client = IdTCPClient;
    if (RequestThread) {
      RequestThread->SetTCPError();
      RequestThread->Disconnect();
    }
  }
  if (Client) {
    Client->AbortConnect();
    try {
      Client->Disconnect();
    } catch (...) {
      // The connection is going away either way.
    }
  }
}

void TCommunicate::Log(int Cmd, const std::u16string& Text) {
  if (TLogger* Log = Logger) Log->ToLog(Cmd, Text, 0);
}

void TCommunicate::SetState(TLinkState State, const std::u16string* Error) {
  std::lock_guard<std::mutex> Guard(StatusLock);
  if (Error) LinkStatus.LastError = *Error;
  if (LinkStatus.State == State) return;
  LinkStatus.State = State;
  LinkStatus.Since = std::chrono::system_clock::now();
}

TCommunicate::TLinkStatus TCommunicate::Status() const {
  std::lock_guard<std::mutex> Guard(StatusLock);
  return LinkStatus;
}
