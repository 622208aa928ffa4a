// Worker thread bound to one OPC DA server: takes tasks one at a time from its queue, runs them on
// its server connection and reports every outcome through a callback into its owner.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "MyQueue.h"
#include "OPCServer.h"
#include "OPCTypes.h"
#include "WorkSignal.h"

class TLogger;

class TOPCInteractor {
 public:
  static constexpr int32_t MaxTasks = 100;

  // Starts the thread at once.
  TOPCInteractor(const std::u16string& Name, const std::u16string& Guid);
  // Empties the queue, stops the thread and waits until it has disconnected and freed the
  // connection. Must not be called while holding the critical section handed in.
  ~TOPCInteractor();
  TOPCInteractor(const TOPCInteractor&) = delete;
  TOPCInteractor& operator=(const TOPCInteractor&) = delete;

  void SetOPCName(const std::u16string& Value);
  std::u16string GetOPCName() const;
  void SetOPCGuid(const std::u16string& Value);
  std::u16string GetOPCGuid() const;

  void SetLoggerProp(TLogger* Value) { Logger = Value; }
  TLogger* GetLoggerProp() const { return Logger; }
  void SetCriticalSection(TCriticalSection* Value) { CriticalSection = Value; }

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
  void SetGetValuesCallback(TGetValuesCallBack Value);
  void SetGetValuesErrorAnswerCallback(TGetValuesErrorAnswer Value) {
    ErrorGetValuesAnswer = std::move(Value);
  }
  void SetSetValueCallback(TSetValueCallBack Value) { SetValue = std::move(Value); }
  void SetSetValueErrorAnswerCallback(TSetValueErrorAnswer Value) {
    ErrorSetValueAnswer = std::move(Value);
  }
  void SetPingCallback(TOPCPingCallBack Value) { OPCPing = std::move(Value); }

  // Any thread. Queues a copy of Task, or answers -12 (full) / -18 (no memory) through
  // ErrorAnswer. An update task (6) behind another waiting update task is dropped silently.
  void AddTask(const TElement& Task);
  void ClearBuffer();
  // Number of tasks waiting (any thread).
  int32_t GetTaskCount();
  // The server connection's tag table. Valid while the worker lives; read it on the worker's
  // thread (inside a callback) only.
  const TItemsFullList& GetOPCTagsArr() const;
  // Any thread.
  bool IsOPCInit() const;

 private:
  // Spin guard of TasksBuffer: taken in one atomic step, contenders spin until it is free.
  class TQueueGuard {
   public:
    explicit TQueueGuard(std::atomic<bool>& Busy);
    ~TQueueGuard();

   private:
    std::atomic<bool>& Busy;
  };

  void Execute();
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
  std::unique_lock<TCriticalSection> LockOwner();
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
  TLogger* Logger = nullptr;

  std::atomic<bool> Terminated{false};
  TWorkSignal WorkSignal;
  std::thread Thread;  // last: starts after every field above is ready
};
