// The reader thread of one connection: reads request lines and hands each non-empty one to the
// router; on the first failure it cuts the router off, has the client released, logs the error,
// asks for a reconnection and ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "LinkTypes.h"
#include "ThreadWait.h"

class TLinkClient;
class TLinkRouter;
class TLogger;

class TRequestThread {
 public:
  // The thread is created suspended when Suspended is true and runs after Start.
  explicit TRequestThread(bool Suspended);
  // Joins the thread. Its owner destroys it only once its connection has been disconnected, so
  // that its read ends.
  ~TRequestThread();
  TRequestThread(const TRequestThread&) = delete;
  TRequestThread& operator=(const TRequestThread&) = delete;

  void SetTCPClientProp(std::shared_ptr<TLinkClient> IdTCPClient);
  void SetUidProp(const std::u16string& Uid);
  void SetLoggerProp(TLogger* Logger);
  void SetRouterProp(TLinkRouter* Router);
  void SetTryReconnectProp(TCallBack TryReconnect);
  void SetKillConnectProp(TCallBack KillConnect);
  void SetIncQueryProp(TCallBack IncQuery);

  void InitConnect();
  void Start();

  // Safe from any thread for as long as the object exists, also after the loop has ended.
  void SetTCPError();
  void Disconnect();
  bool IsTerminated();

  // Waits for the thread to end, handling messages sent to the calling thread meanwhile.
  void WaitFor();

 private:
  void Execute();
  void ReadLoop();
  void Fail(const std::u16string& Message);

  std::shared_ptr<TLinkClient> IdTCPClient;
  std::u16string Uid;
  TLinkRouter* Router = nullptr;
  TLogger* Logger = nullptr;
  TCallBack TryReconnect;
  TCallBack KillConnect;
  std::atomic<bool> IsDone{false};
  std::atomic<bool> DestroyFlag{false};
  std::atomic<int32_t> ExitCounter{0};
  TCallBack IncQuery;
  std::atomic<bool> TCPErrorFlag{false};

  std::atomic<bool> Terminated{false};
  TWaitEvent Finished;
  std::thread Thread;
};
