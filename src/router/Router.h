// The request router: reads each request line, keeps one OPC worker per OPC server found on the
// machine, queues tasks on the workers, turns every result into a message and writes it on the
// link.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "LinkRouter.h"
#include "Logger.h"
#include "MyQueue.h"
#include "OPCDiscovery.h"
#include "OPCTypes.h"
#include "ScanCount.h"
#include "UpdateTimer.h"

class TLinkClient;
class TOPCInteractor;
class TqvJSONobject;

class TRouter : public TLinkRouter {
 public:
  // UpdatePeriod: the pause between update ticks.
  explicit TRouter(std::chrono::milliseconds UpdatePeriod = TUpdateTimer::DefaultPeriod);
  // Waits for running server scans, stops the update timer, then destroys the workers in
  // registry order. Call it with no request being routed.
  ~TRouter() override;
  TRouter(const TRouter&) = delete;
  TRouter& operator=(const TRouter&) = delete;

  void SetLoggerProp(TLogger* Value) override { Logger = Value; }
  void SetCountersProp(TLinkCounters* Value) override { Counters = Value; }
  void SetUidProp(const std::u16string& Value) override;
  void ExpectGreeting() override;
  void SetTCPClientProp(std::shared_ptr<TLinkClient> Value) override;
  void SetTCPError() override;
  void SetAllowWritesProp(bool Value) override { AllowWrites = Value; }
  // Handed to every worker made from then on.
  void SetAsyncGoodQualityProp(bool AnyGood) override { AsyncAnyGoodQuality = AnyGood; }
  // Whether workers made from now on browse through IOPCBrowse where a server offers it.
  void SetBrowseElementsProp(bool Value) override { BrowseElements = Value; }
  // Decimal separator of the value text of "setValue" (the user's setting by default).
  void SetDecimalSeparatorProp(char16_t Value) { DecimalSeparator = Value; }

  void InitConnect() override;
  void MakeRouting(const std::u16string& Msg) override;
  // True while any server scan runs.
  bool IsBusy() const { return Scans.Any(); }
  void UpdateEvent();

  // Registry of workers.
  void SyncOPCInteractors();
  void CountServers(const std::vector<TOPCInteractor*>& Interactors);
  // Index of the first worker whose name (unless Name is empty) and class identifier text (unless
  // Guid is empty) match exactly; -1 when none matches or both are empty.
  int FindOPCInteractor(const std::u16string& Name, const std::u16string& Guid) const;
  TOPCServers GetOPCServersList();

  // Task operations: queue a task on the worker of OPCServerID, if there is one.
  void GetOPCServers(int32_t TransID);
  void OPCConnectTask(const std::u16string& OPCServerID, const std::u16string& SyncMode,
                      int32_t ResponseTime, int32_t TransID);
  void GetTagsTask(const std::u16string& OPCServerID, int32_t TransID);
  void GetValuesTask(const std::u16string& OPCServerID, int32_t TransID, const TArray& TagNames);
  void SetValueTask(const std::u16string& OPCServerID, int32_t TransID, const std::u16string& Value,
                    const std::u16string& TagName);
  void OPCDisconnectTask(const std::u16string& OPCServerID, int32_t TransID);
  void PingTask(const std::u16string& OPCServerID, int32_t TransID);

  // Message operations: build, send and log one message each; none raises.
  void SendListServers(int32_t Mode, int32_t TransID);
  void OPCConnectAnswer(const std::u16string& OPCServerID, int32_t TransID);
  void OPCDisconnectAnswer(const std::u16string& OPCServerID, int32_t TransID);
  void GetTagsAnswer(const std::u16string& OPCServerID, int32_t TransID);
  void GetValuesAnswer(const std::u16string& OPCServerID, int32_t TransID, const TArray& ValueNames,
                       const TArray& Values, const TArray& Qualities);
  void SetValueAnswer(const std::u16string& OPCServerID, int32_t TransID,
                      const std::u16string& ValueName, const std::u16string& Value);
  void PingAnswer(const std::u16string& OPCServerID, int32_t TransID, int32_t State);
  void ErrorAnswer(int32_t Mode, int32_t ErrorCode, int32_t TransID);
  void ErrorConnectAnswer(int32_t Mode, int32_t ErrorCode, int32_t TransID,
                          const std::u16string& OPCServerID);
  void ErrorGetValuesAnswer(const std::u16string& OPCServerID, int32_t TransID, int32_t ErrorCode,
                            const TArray& ValueNames);
  void ErrorSetValueAnswer(const std::u16string& OPCServerID, int32_t TransID,
                           const std::u16string& ValueName, int32_t ErrorCode);

  // Writes one line on the link; one writer at a time. On a new connection every line waits
  // until the greeting ("serverOnline") has been written, so the greeting is always the first.
  void TCPSend(const std::u16string& Msg);

 private:
  struct TInteractorSlot {
    std::u16string Name;
    std::u16string Guid;
    std::unique_ptr<TOPCInteractor> Interactor;  // empty once destroyed
  };

  void Route(const std::u16string& Msg);
  void RouteCommand(const std::u16string& Cmd, int32_t TransID, TqvJSONobject& Request);
  void RouteSetValue(int32_t TransID, TqvJSONobject& Request);
  void SetInteractorCallbacks(TOPCInteractor& Interactor);
  int FindSlot(const std::u16string& Name, const std::u16string& Guid) const;
  TOPCInteractor* InteractorOf(const std::u16string& OPCServerID) const;
  void QueueTask(const std::u16string& OPCServerID, const TElement& Task);
  void SendLine(const std::u16string& Msg, bool Greeting);
  // Writes Msg and queues its entries on Log (null: none); returns the ticket to deliver.
  TLogger::TTicket WriteLine(const std::u16string& Msg, bool Greeting, TLogger* Log);
  bool WaitForGreeting(bool Greeting);
  void MarkGreeted(const std::shared_ptr<TLinkClient>& Client);
  std::shared_ptr<TLinkClient> UsableClient(bool Greeting) const;
  void Log(int32_t Cmd, const std::u16string& Text, int32_t TransID);
  void SendAndLog(const std::u16string& Msg, const std::u16string& LogText, int32_t TransID);
  void LogAndSendError(const std::u16string& Msg, int32_t ErrorCode, int32_t TransID);

  mutable std::mutex ClientLock;  // guards IdTCPClient and Greeted
  std::shared_ptr<TLinkClient> IdTCPClient;
  bool GreetingDue = false;  // the next client handed over waits for its greeting
  bool Greeted = true;       // lines may be written on IdTCPClient (its greeting is out)
  std::condition_variable GreetingWritten;  // Greeted set, or the link failed or changed
  TCriticalSection CriticalSection;
  std::atomic<TLogger*> Logger{nullptr};
  mutable std::mutex UidLock;
  std::u16string Uid;
  // Set once the router exists, while its update thread may already tick.
  std::atomic<TLinkCounters*> Counters{nullptr};
  mutable std::mutex RegistryLock;  // guards OPCInteractors; never held while queuing a task
  std::vector<TInteractorSlot> OPCInteractors;
  std::mutex SyncLock;           // one registration pass at a time
  TScanCount Scans;              // server scans running
  TOPCServerCache ServerCache;   // the last scan's servers while the registry stays unchanged
  std::atomic<bool> TCPOnError{false};
  std::mutex WriteLock;  // one writer on the link at a time
  std::atomic<char16_t> DecimalSeparator;
  std::atomic<bool> AllowWrites{true};
  std::atomic<bool> AsyncAnyGoodQuality{false};
  std::atomic<bool> BrowseElements{true};
  std::unique_ptr<TUpdateTimer> UpdateTimer;  // made last, destroyed first
};
