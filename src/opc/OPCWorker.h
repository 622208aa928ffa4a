// What an OPC worker's thread works on: the task queue, the server connection and the callbacks
// into the owner. Shared between the worker's handle (TOPCInteractor) and its thread, so that a
// thread stuck in a call to a server that never answers can be left behind at exit while
// everything it may still touch stays alive.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "MyQueue.h"
#include "OPCServer.h"
#include "OPCTypes.h"
#include "WorkSignal.h"

class TOPCWorker {
 public:
  static constexpr int32_t MaxTasks = 100;

  TOPCWorker(const std::u16string& Name, const std::u16string& Guid);
  TOPCWorker(const TOPCWorker&) = delete;
  TOPCWorker& operator=(const TOPCWorker&) = delete;

  void SetOPCName(const std::u16string& Value);
  std::u16string GetOPCName() const;
  void SetOPCGuid(const std::u16string& Value);
  std::u16string GetOPCGuid() const;

  // Set by the owner before the first task.
  void SetCriticalSection(TCriticalSection* Value) { CriticalSection = Value; }
  void SetBrowseElementsProp(bool Value) { OPCServer->SetBrowseElementsProp(Value); }
  void SetErrorAnswerCallback(TErrorAnswer Value) { ErrorAnswer = std::move(Value); }
  void SetOPCConnectCallback(TConnectCallBack Value) { OPCConnect = std::move(Value); }
  void SetConnectErrorAnswerCallback(TConnectErrorAnswer Value) {
    ErrorConnectAnswer = std::move(Value);
  }
  void SetOPCDisconnectCallback(TConnectCallBack Value) { OPCDisconnect = std::move(Value); }
  void SetDisconnectErrorAnswerCallback(TConnectErrorAnswer Value) {
    ErrorDisconnectAnswer = std::move(Value);
  }
  void SetGetTagsCallback(TConnectCallBack Value) { GetTags = std::move(Value); }
  void SetGetTagsErrorAnswerCallback(TConnectErrorAnswer Value) {
    ErrorGetTagsAnswer = std::move(Value);
  }
  void SetGetValuesCallback(TGetValuesCallBack Value) { GetValues = std::move(Value); }
  void SetGetValuesErrorAnswerCallback(TGetValuesErrorAnswer Value) {
    ErrorGetValuesAnswer = std::move(Value);
  }
  void SetSetValueCallback(TSetValueCallBack Value) { SetValue = std::move(Value); }
  void SetSetValueErrorAnswerCallback(TSetValueErrorAnswer Value) {
    ErrorSetValueAnswer = std::move(Value);
  }
  void SetPingCallback(TOPCPingCallBack Value) { OPCPing = std::move(Value); }
  // What the worker has to say beyond its answers (a connect tried again), for the owner's log.
  void SetNoticeCallback(TNoticeCallBack Value) { Notice = std::move(Value); }
  // Whether pushes count every good quality as good (TOPCServer::SetAsyncGoodQualityProp).
  void SetAsyncGoodQualityProp(bool AnyGood);

  void AddTask(const TElement& Task);
  void ClearBuffer();
  int32_t GetTaskCount();
  const TItemsFullList& GetOPCTagsArr() const;
  bool IsOPCInit() const;

  // The thread body: runs tasks until terminated, then disconnects and frees the connection.
  void Execute();
  // Any thread: empties the queue and makes the loop end after the task in hand.
  void Terminate();
  // The owner goes away without waiting for the thread: from now on no callback reaches it and
  // its lock is no longer taken. Waits for a callback in progress. Must not be called while
  // holding the owner's lock.
  void Abandon();

 private:
  // Spin guard of TasksBuffer: taken in one atomic step, contenders spin until it is free.
  class TQueueGuard {
   public:
    explicit TQueueGuard(std::atomic<bool>& Busy);
    ~TQueueGuard();

   private:
    std::atomic<bool>& Busy;
  };

  bool TakeTask(TElement& Task);
  void RunTask(const TElement& Task);
  void DoConnect(const TElement& Task);
  void DoGetTags(const TElement& Task);
  void DoGetValues(const TElement& Task);
  void DoUpdateValues(const TElement& Task);
  void DoSetValue(const TElement& Task);
  void DoDisconnect(const TElement& Task);
  void DoPing(const TElement& Task);
  void QueueReconnect();
  void Push(const std::u16string& OPCServerID, int32_t TransID, const TArray& ValueNames,
            const TArray& Values, const TArray& Qualities);
  void Tell(const std::u16string& Text);
  bool PauseUnlessTerminated(std::chrono::milliseconds Duration);
  template <typename TCallback, typename... TArgs>
  void Answer(const TCallback& Callback, TArgs&&... Args);

  mutable std::mutex NamesLock;  // Name and Guid may be read from any thread
  std::u16string Name;
  std::u16string Guid;
  mutable std::mutex ServerLock;  // guards the pointer, which the thread clears when it ends
  std::unique_ptr<TOPCServer> OPCServer;
  TMyQueue TasksBuffer;
  TErrorAnswer ErrorAnswer;
  TCriticalSection* CriticalSection = nullptr;
  std::atomic<bool> QueueBusy{false};
  TConnectCallBack OPCConnect;
  TConnectErrorAnswer ErrorConnectAnswer;
  TConnectCallBack OPCDisconnect;
  TConnectErrorAnswer ErrorDisconnectAnswer;
  TConnectCallBack GetTags;
  TConnectErrorAnswer ErrorGetTagsAnswer;
  TGetValuesCallBack GetValues;
  TGetValuesErrorAnswer ErrorGetValuesAnswer;
  TSetValueCallBack SetValue;
  TSetValueErrorAnswer ErrorSetValueAnswer;
  TOPCPingCallBack OPCPing;
  TNoticeCallBack Notice;

  // Held shared around every use of the owner (its lock and callbacks), exclusively to abandon.
  std::shared_mutex OwnerGate;
  std::atomic<bool> Abandoned{false};
  std::atomic<bool> Terminated{false};
  TWorkSignal WorkSignal;
};
