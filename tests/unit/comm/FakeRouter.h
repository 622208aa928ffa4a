// A router stand-in for the link's tests: records every call the link makes, writes a greeting
// line in InitConnect the way the router does, and can be slowed down to widen race windows.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "LinkRouter.h"

class TLogger;

// Outlives the router so that tests can inspect it after the link destroyed the router.
struct TFakeRouterState {
  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<std::string> Calls;  // "client", "none", "error", "init", "greet",
                                   // "route:<line>", "destroyed"
  std::shared_ptr<TLinkClient> Client;
  TLogger* Logger = nullptr;

  // Test knobs, set before the link starts.
  bool InitWaitsForFirstLine = false;  // InitConnect waits (bounded) until a line was routed
  int InitConnectDelayMs = 0;          // InitConnect sleeps this long before the greeting
  int CutOffDelayMs = 0;               // SetTCPClientProp(none) sleeps this long
  bool InitConnectFails = false;       // InitConnect raises after the greeting
  bool WorkerLogsOnDestroy = false;    // destruction waits for a thread that logs, as workers do
  bool HoldRouting = false;            // MakeRouting waits (bounded) until ReleaseRouting

  std::atomic<bool> InInitConnect{false};
  std::atomic<bool> Destroyed{false};
  std::atomic<int> CallsAfterDestroy{0};

  int Count(const std::string& Call);
  std::vector<std::string> Snapshot();
  // Waits until Count(Call) >= N, at most TimeoutMs.
  bool WaitCount(const std::string& Call, int N, int TimeoutMs);
  void ReleaseRouting();
};

class TFakeRouter : public TLinkRouter {
 public:
  explicit TFakeRouter(std::shared_ptr<TFakeRouterState> State) : State(std::move(State)) {}
  ~TFakeRouter() override;

  void SetLoggerProp(TLogger* Logger) override;
  void SetUidProp(const std::u16string& Uid) override;
  void SetTCPClientProp(std::shared_ptr<TLinkClient> IdTCPClient) override;
  void SetTCPError() override;
  void SetAllowWritesProp(bool) override {}
  void SetBrowseElementsProp(bool) override {}
  void InitConnect() override;
  void MakeRouting(const std::u16string& Msg) override;

 private:
  void Record(const std::string& Call);
  std::shared_ptr<TFakeRouterState> State;
  std::mutex WriteLock;
};
