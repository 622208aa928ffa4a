// The link's manager: holds the connection settings, owns the router and the reconnect timer for
// the program's life, opens each connection when the timer asks, starts one reader thread per
// connection, hands the live connection to the router and the timer, and tears the connection
// down, to reconnect (Disconnect(true)) or for good (Disconnect(false)).
//
// Ownership rules that keep the threads apart:
// - A connection (client and TLS layer) is shared by the manager, its reader, the router and any
//   thread writing an answer; "releasing" it drops the manager's share, and the last user to let
//   go closes and frees it. It is released once, and never under a running read or write.
// - The manager owns each reader thread and joins it, before the next connection is opened and
//   at the final teardown, so no call reaches a reader that has ended and been freed, and an old
//   reader can never cut the router off a newer connection.
// - The final teardown joins the timer thread and the reader thread before the router is
//   destroyed, so the router outlives every use they make of it.
// - Waits on the window thread keep handling sent messages, so a thread that logs while the
//   window thread waits for it cannot hang the close.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "LinkCounters.h"
#include "LinkTypes.h"
#include "ThreadWait.h"
#include "TlsPolicy.h"

class TLinkClient;
class TLinkRouter;
class TLogger;
class TReconnectTimer;
class TRequestThread;

class TCommunicate {
 public:
  // What the link is doing, for the window's status line.
  enum class TLinkState { Idle, Connecting, Connected, Waiting };
  struct TLinkStatus {
    TLinkState State = TLinkState::Idle;
    std::u16string Host;  // of the attempt or connection
    int32_t Port = 0;
    bool TLS = false;
    std::chrono::system_clock::time_point Since;  // of the state
    std::u16string LastError;                    // of the last failed attempt or lost link
  };

  // Starts the reconnect timer (idle) and creates the system's router.
  TCommunicate();
  // Starts the reconnect timer (idle) and takes ownership of the given router.
  explicit TCommunicate(std::unique_ptr<TLinkRouter> Router);
  // Runs the final teardown if Disconnect(false) has not run yet.
  ~TCommunicate();
  TCommunicate(const TCommunicate&) = delete;
  TCommunicate& operator=(const TCommunicate&) = delete;

  // Settings, used from the next connection attempt on. The first attempt is armed by
  // SetLoggerProp, but starts only once all six settings have been handed over.
  void SetHostProp(const std::u16string& Host);
  void SetPortProp(int32_t Port);
  void SetUidProp(const std::u16string& Uid);
  void SetLoggerProp(TLogger* Logger);
  void SetSSLSecureProp(bool SSLSecure);
  void SetIncQueryProp(TCallBack IncQuery);
  // Optional, before the first attempt: how a TLS server is authenticated (default: not at all),
  // and whether "setValue" may reach the OPC servers (default: yes).
  void SetTlsPolicyProp(const TTlsPolicy& Policy);
  void SetAllowWritesProp(bool AllowWrites);
  void SetAsyncGoodQualityProp(bool AnyGood);
  void SetBrowseElementsProp(bool BrowseElements);

  // One connection attempt; runs on the reconnect thread.
  void Connect();
  // Restart true: tear the connection down to reconnect later. False: final teardown; every
  // thread of the link has ended when it returns, and the router is gone.
  void Disconnect(bool Restart);
  // Arms the reconnect timer for an attempt at its next wake-up.
  void TryReconnect();

  // Any thread: the link's state and its live counters.
  TLinkStatus Status() const;
  const TLinkCounters& Counters() const { return LinkCounters; }

 private:
  enum TSetting : unsigned {
    HostGiven = 1,
    PortGiven = 2,
    UidGiven = 4,
    LoggerGiven = 8,
    SSLSecureGiven = 16,
    IncQueryGiven = 32,
    AllGiven = 63
  };

  void SettingGiven(TSetting Setting);
  void ClientConnected(const std::shared_ptr<TLinkClient>& Client);
  void StartRequestThread(const std::shared_ptr<TLinkClient>& Client);
  void KillConnect(const TLinkClient* Client);
  void ReleaseClient(const TLinkClient* Client);
  void JoinRequestThread();
  void Restart();
  void FinalTeardown();
  void DestroyRouter();
  void CutOff();
  void Log(int Cmd, const std::u16string& Text);
  void SetState(TLinkState State, const std::u16string* Error = nullptr);

  std::mutex Lock;  // guards the connection, the reader and the settings below
  // The current connection; shares ownership with its TLS layer (IdServerIOHandlerSSLOpenSSL),
  // which therefore exists exactly as long as the client.
  std::shared_ptr<TLinkClient> IdTCPClient;
  std::unique_ptr<TReconnectTimer> ReconnectTimer;
  std::atomic<TLogger*> Logger{nullptr};
  std::unique_ptr<TRequestThread> RequestThread;
  std::unique_ptr<TLinkRouter> Router;
  std::u16string Host;
  int32_t Port = 0;
  std::u16string Uid;
  bool SSLSecure = false;
  TTlsPolicy TlsPolicy;
  TCallBack IncQuery;
  std::atomic<bool> KillFlag{false};

  unsigned SettingsGiven = 0;
  bool FirstAttemptArmed = false;
  bool Closing = false;  // set once by the final teardown: no new connection or reader after it
  bool AbortAttempt = false;  // set while a restart waits for the attempt under way
  std::condition_variable AttemptOvertaken;  // Closing or AbortAttempt was set
  TPumpingLock ConnectLock;  // one attempt or restart at a time

  TLinkCounters LinkCounters;
  mutable std::mutex StatusLock;  // guards LinkStatus; taken only when the state changes
  TLinkStatus LinkStatus;
  bool EverConnected = false;  // reconnect thread only
};
