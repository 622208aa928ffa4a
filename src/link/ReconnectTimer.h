// The link's clock: one thread, waking every 5000 ms, that makes a connection attempt when armed
// and otherwise, once a connection has been handed over, probes the server with a short second
// connection; a failed probe tears the link down and arms the next attempt.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "LinkTypes.h"
#include "ThreadWait.h"
#include "TlsPolicy.h"

class TLinkClient;
class TLogger;

class TReconnectTimer {
 public:
  // Starts the thread at once, idle.
  TReconnectTimer();
  // Stops the thread and waits for it (at most the current turn).
  ~TReconnectTimer();
  TReconnectTimer(const TReconnectTimer&) = delete;
  TReconnectTimer& operator=(const TReconnectTimer&) = delete;

  // Arms the timer: a connection attempt at the next wake-up.
  void Start();
  void SetConnectHandleProp(TCallBack ConnectHandle);
  void SetDisonnectHandleProp(TDisconnectCallBack DisconnectHandle);
  void SetLoggerProp(TLogger* Logger);
  void SetSSLSecureProp(bool SSLSecure);
  // The probe authenticates the server the way the link does.
  void SetTlsPolicyProp(const TTlsPolicy& Policy);
  // Takes the host and port to probe from the live client; the client itself is not kept, so
  // the probe never reads from a client that has been released since.
  void SetTCPClientProp(const TLinkClient& IdTCPClient);

  // Asks the thread to stop; it ends its current turn and does not wait out the 5000 ms.
  void Terminate();
  // Waits for the thread to end, handling messages sent to the calling thread meanwhile.
  void WaitFor();

 private:
  struct TProbeTarget {
    bool Known = false;
    std::u16string Host;
    uint16_t Port = 0;
  };

  void Execute();
  void Turn();
  bool TestConnection(const TProbeTarget& Target, bool WithTLS, const TTlsPolicy& Policy);
  bool SetProbing(TLinkClient* Client);

  std::atomic<bool> isActive{false};
  std::atomic<bool> Terminated{false};
  TWaitEvent Finished;
  TWaitEvent FTermEvent;

  std::mutex SettingsLock;  // guards the fields below, set from other threads
  TLogger* Logger = nullptr;
  TCallBack ConnectHandle;
  TDisconnectCallBack DisconnectHandle;
  TProbeTarget IdTCPClient;
  bool SSLSecure = false;
  TTlsPolicy TlsPolicy;
  TLinkClient* Probing = nullptr;  // the probe's client while it connects, for Terminate

  std::thread Thread;  // last: starts once every field above exists
};
