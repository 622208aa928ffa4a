// Worker thread bound to one OPC DA server: takes tasks one at a time from its queue, runs them on
// its server connection and reports every outcome through a callback into its owner.
#pragma once

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "OPCServer.h"
#include "OPCTypes.h"
#include "OPCWorker.h"

class TLogger;

class TOPCInteractor {
 public:
  static constexpr int32_t MaxTasks = TOPCWorker::MaxTasks;
  // How long stopping waits for a thread that is inside a call to its server.
  static constexpr std::chrono::milliseconds StopWait{3000};

  // Starts the thread at once.
  TOPCInteractor(const std::u16string& Name, const std::u16string& Guid);
  // Stops the thread (Stop with StopWait from now) unless stopped before. Must not be called
  // while holding the critical section handed in.
  ~TOPCInteractor();
  TOPCInteractor(const TOPCInteractor&) = delete;
  TOPCInteractor& operator=(const TOPCInteractor&) = delete;

  void SetOPCName(const std::u16string& Value) { Worker->SetOPCName(Value); }
  std::u16string GetOPCName() const { return Worker->GetOPCName(); }
  void SetOPCGuid(const std::u16string& Value) { Worker->SetOPCGuid(Value); }
  std::u16string GetOPCGuid() const { return Worker->GetOPCGuid(); }

  void SetLoggerProp(TLogger* Value) { Logger = Value; }
  void SetBrowseElementsProp(bool Value) { Worker->SetBrowseElementsProp(Value); }
  TLogger* GetLoggerProp() const { return Logger; }
  void SetCriticalSection(TCriticalSection* Value) { Worker->SetCriticalSection(Value); }

  void SetErrorAnswerCallback(TErrorAnswer Value) { Worker->SetErrorAnswerCallback(Value); }
  void SetOPCConnectCallback(TConnectCallBack Value) { Worker->SetOPCConnectCallback(Value); }
  void SetConnectErrorAnswerCallback(TConnectErrorAnswer Value) {
    Worker->SetConnectErrorAnswerCallback(Value);
  }
  void SetOPCDisconnectCallback(TConnectCallBack Value) { Worker->SetOPCDisconnectCallback(Value); }
  void SetDisconnectErrorAnswerCallback(TConnectErrorAnswer Value) {
    Worker->SetDisconnectErrorAnswerCallback(Value);
  }
  void SetGetTagsCallback(TConnectCallBack Value) { Worker->SetGetTagsCallback(Value); }
  void SetGetTagsErrorAnswerCallback(TConnectErrorAnswer Value) {
    Worker->SetGetTagsErrorAnswerCallback(Value);
  }
  // Also reaches the server connection's data-change pushes.
  void SetGetValuesCallback(TGetValuesCallBack Value) { Worker->SetGetValuesCallback(Value); }
  void SetGetValuesErrorAnswerCallback(TGetValuesErrorAnswer Value) {
    Worker->SetGetValuesErrorAnswerCallback(Value);
  }
  void SetSetValueCallback(TSetValueCallBack Value) { Worker->SetSetValueCallback(Value); }
  void SetSetValueErrorAnswerCallback(TSetValueErrorAnswer Value) {
    Worker->SetSetValueErrorAnswerCallback(Value);
  }
  void SetPingCallback(TOPCPingCallBack Value) { Worker->SetPingCallback(Value); }
  // Texts for the log that answer no request (a connect tried again).
  void SetNoticeCallback(TNoticeCallBack Value) { Worker->SetNoticeCallback(Value); }
  // True: pushes count every good quality as good, as the "sync" read does.
  void SetAsyncGoodQualityProp(bool AnyGood) { Worker->SetAsyncGoodQualityProp(AnyGood); }

  // Any thread. Queues a copy of Task, or answers -12 (full) / -18 (no memory) through
  // ErrorAnswer. An update task (6) behind another waiting update task is dropped silently.
  void AddTask(const TElement& Task) { Worker->AddTask(Task); }
  void ClearBuffer() { Worker->ClearBuffer(); }
  // Number of tasks waiting (any thread).
  int32_t GetTaskCount() { return Worker->GetTaskCount(); }
  // The server connection's tag table. Valid while the worker lives; read it on the worker's
  // thread (inside a callback) only.
  const TItemsFullList& GetOPCTagsArr() const { return Worker->GetOPCTagsArr(); }
  // Any thread.
  bool IsOPCInit() const { return Worker->IsOPCInit(); }

  // Empties the queue and tells the thread to end after the task in hand; returns at once.
  void Terminate() { Worker->Terminate(); }
  // Terminates and waits until the thread has ended, at most until Deadline. A thread still
  // inside a call to its server then is left behind (false): it keeps what it works on, but no
  // callback of it reaches the owner any more, and it ends with the process. Must not be called
  // while holding the critical section handed in.
  bool Stop(std::chrono::steady_clock::time_point Deadline);

 private:
  std::shared_ptr<TOPCWorker> Worker;
  TLogger* Logger = nullptr;
  std::future<void> Ended;  // ready when the thread has left its body
  std::thread Thread;       // last: starts after every field above is ready
};
