#include "OPCWorker.h"

#include <new>
#include <thread>
#include <utility>

namespace {
const TItemsFullList EmptyTagTable;
}

TOPCWorker::TQueueGuard::TQueueGuard(std::atomic<bool>& Busy) : Busy(Busy) {
  while (Busy.exchange(true, std::memory_order_acquire)) {
    while (Busy.load(std::memory_order_relaxed)) std::this_thread::yield();
  }
}

TOPCWorker::TQueueGuard::~TQueueGuard() {
  Busy.store(false, std::memory_order_release);
}

TOPCWorker::TOPCWorker(const std::u16string& Name, const std::u16string& Guid)
    : Name(Name), Guid(Guid), OPCServer(std::make_unique<TOPCServer>(Guid)) {
  // The server connection's pushes pass the owner gate like every other callback.
  OPCServer->SetGetValuesCallback(
      [this](const std::u16string& Id, int32_t TransID, const TArray& Names, const TArray& Values,
             const TArray& Qualities) { Push(Id, TransID, Names, Values, Qualities); });
  OPCServer->SetNoticeCallback([this](const std::u16string& Text) { Tell(Text); });
  // A connect that waits to try again ends its wait when the worker is told to stop.
  OPCServer->SetPauseCallback(
      [this](std::chrono::milliseconds Duration) { return PauseUnlessTerminated(Duration); });
}

void TOPCWorker::Terminate() {
  ClearBuffer();
  Terminated.store(true);
  WorkSignal.Notify();
}

void TOPCWorker::Abandon() {
  std::unique_lock<std::shared_mutex> Gate(OwnerGate);
  Abandoned.store(true);
}

void TOPCWorker::SetAsyncGoodQualityProp(bool AnyGood) {
  std::lock_guard<std::mutex> Guard(ServerLock);
  if (OPCServer) OPCServer->SetAsyncGoodQualityProp(AnyGood);
}

void TOPCWorker::SetOPCName(const std::u16string& Value) {
  std::lock_guard<std::mutex> Guard(NamesLock);
  Name = Value;
}

std::u16string TOPCWorker::GetOPCName() const {
  std::lock_guard<std::mutex> Guard(NamesLock);
  return Name;
}

void TOPCWorker::SetOPCGuid(const std::u16string& Value) {
  std::lock_guard<std::mutex> Guard(NamesLock);
  Guid = Value;
}

std::u16string TOPCWorker::GetOPCGuid() const {
  std::lock_guard<std::mutex> Guard(NamesLock);
  return Guid;
}

void TOPCWorker::AddTask(const TElement& Task) {
  int32_t Refusal = 0;
  {
    TQueueGuard Guard(QueueBusy);
    if (TasksBuffer.GetCount() >= MaxTasks) {
      Refusal = TASK_BUFFER_OVERLOAD;
    } else if (Task.TaskCode == TaskUpdateValues &&
               TasksBuffer.GetLastValue().TaskCode == TaskUpdateValues) {
      return;
    } else {
      try {
        TasksBuffer.Enqueue(Task);
      } catch (const std::bad_alloc&) {
        Refusal = ERROR_CREATING_TASK;
      }
    }
  }
  if (Refusal != 0) {
    Answer(ErrorAnswer, Task.TaskCode, Refusal, Task.TaskID);
    return;
  }
  WorkSignal.Notify();
}

int32_t TOPCWorker::GetTaskCount() {
  TQueueGuard Guard(QueueBusy);
  return TasksBuffer.GetCount();
}

void TOPCWorker::ClearBuffer() {
  TQueueGuard Guard(QueueBusy);
  TasksBuffer.Clear();
}

const TItemsFullList& TOPCWorker::GetOPCTagsArr() const {
  std::lock_guard<std::mutex> Guard(ServerLock);
  return OPCServer ? OPCServer->GetOPCTagsArr() : EmptyTagTable;
}

bool TOPCWorker::IsOPCInit() const {
  std::lock_guard<std::mutex> Guard(ServerLock);
  return OPCServer && OPCServer->IsOPCInit();
}

void TOPCWorker::Execute() {
  while (!Terminated.load()) {
    TElement Task;
    if (!TakeTask(Task)) {
      WorkSignal.Wait();
      continue;
    }
    try {
      RunTask(Task);
    } catch (...) {
      // A fault ends the pass: the task gets no answer and the loop goes on.
    }
    // Between tasks too, so a stream of tasks does not hold back the server's notifications.
    TWorkSignal::Pump();
  }
  try {
    OPCServer->Disconnect();
  } catch (...) {
  }
  // The connection's COM objects belong to this thread's apartment: release them here, and
  // leave the apartment here (the connection does as it is destroyed), before the thread ends.
  std::unique_ptr<TOPCServer> Finished;
  {
    std::lock_guard<std::mutex> Guard(ServerLock);
    Finished = std::move(OPCServer);
  }
  Finished.reset();
  ClearBuffer();
}

bool TOPCWorker::TakeTask(TElement& Task) {
  TQueueGuard Guard(QueueBusy);
  if (TasksBuffer.isEmpty()) return false;
  TasksBuffer.Dequeue(Task);
  return true;
}

void TOPCWorker::RunTask(const TElement& Task) {
  switch (Task.TaskCode) {
    case TaskOPCConnect:
      DoConnect(Task);
      break;
    case TaskGetTags:
      DoGetTags(Task);
      break;
    case TaskGetValues:
      DoGetValues(Task);
      break;
    case TaskUpdateValues:
      DoUpdateValues(Task);
      break;
    case TaskSetValue:
      DoSetValue(Task);
      break;
    case TaskOPCDisconnect:
      DoDisconnect(Task);
      break;
    case TaskPing:
      DoPing(Task);
      break;
    default:
      break;  // unknown codes are consumed without effect
  }
}

// The owner's lock is held around every answer.
template <typename TCallback, typename... TArgs>
void TOPCWorker::Answer(const TCallback& Callback, TArgs&&... Args) {
  std::shared_lock<std::shared_mutex> Gate(OwnerGate);
  if (Abandoned.load()) return;
  std::unique_lock<TCriticalSection> Lock;
  if (CriticalSection != nullptr) Lock = std::unique_lock<TCriticalSection>(*CriticalSection);
  if (Callback) Callback(std::forward<TArgs>(Args)...);
}

// A value push from the data-change sink: without the owner's lock.
void TOPCWorker::Push(const std::u16string& OPCServerID, int32_t TransID, const TArray& ValueNames,
                      const TArray& Values, const TArray& Qualities) {
  std::shared_lock<std::shared_mutex> Gate(OwnerGate);
  if (Abandoned.load() || !GetValues) return;
  GetValues(OPCServerID, TransID, ValueNames, Values, Qualities);
}

void TOPCWorker::Tell(const std::u16string& Text) {
  std::shared_lock<std::shared_mutex> Gate(OwnerGate);
  if (Abandoned.load() || !Notice) return;
  Notice(Text);
}

// A task queued meanwhile wakes the wait too; it is taken after the task in hand.
bool TOPCWorker::PauseUnlessTerminated(std::chrono::milliseconds Duration) {
  const auto Until = std::chrono::steady_clock::now() + Duration;
  while (!Terminated.load()) {
    if (!WorkSignal.WaitUntil(Until)) return !Terminated.load();
  }
  return false;
}

void TOPCWorker::DoConnect(const TElement& Task) {
  const int32_t Result = OPCServer->Init(Task.TaskSyncMode, Task.TaskResponseTime);
  const std::u16string Id = GetOPCGuid();
  if (Result >= 0) {
    Answer(OPCConnect, Id, Task.TaskID);
  } else {
    Answer(ErrorConnectAnswer, TaskOPCConnect, Result, Task.TaskID, Id);
  }
}

void TOPCWorker::DoGetTags(const TElement& Task) {
  const int32_t Result = OPCServer->GetTagsList();
  const std::u16string Id = GetOPCGuid();
  if (Result >= 0) {
    Answer(GetTags, Id, Task.TaskID);
  } else {
    Answer(ErrorGetTagsAnswer, TaskGetTags, Result, Task.TaskID, Id);
  }
}

void TOPCWorker::DoGetValues(const TElement& Task) {
  TArray Values;
  TArray Qualities;
  const int32_t Result = OPCServer->GetOPCItemValues(Task.TaskDataList, Values, Qualities);
  const std::u16string Id = GetOPCGuid();
  if (Result >= 0) {
    Answer(GetValues, Id, Task.TaskID, Task.TaskDataList, Values, Qualities);
  } else {
    Answer(ErrorGetValuesAnswer, Id, Task.TaskID, Result, Task.TaskDataList);
  }
}

void TOPCWorker::DoUpdateValues(const TElement& Task) {
  if (OPCServer->UpdateOPCServersValues()) return;
  Answer(ErrorConnectAnswer, TaskUpdateValues, OPC_NOT_ANSWER, Task.TaskID, GetOPCGuid());
  QueueReconnect();
}

void TOPCWorker::QueueReconnect() {
  TElement Reconnect;
  Reconnect.TaskCode = TaskOPCConnect;
  Reconnect.TaskID = 0;
  Reconnect.TaskSyncMode = OPCServer->GetSyncMode() ? u"sync" : u"async";
  Reconnect.TaskResponseTime = OPCServer->GetResponseTime();
  AddTask(Reconnect);
}

void TOPCWorker::DoSetValue(const TElement& Task) {
  const std::u16string Id = GetOPCGuid();
  if (Task.TaskDataList.size() < 2) {
    // A write needs a tag name and a value; anything shorter names no item to write.
    const std::u16string TagName = Task.TaskDataList.empty() ? u"" : Task.TaskDataList[0];
    Answer(ErrorSetValueAnswer, Id, Task.TaskID, TagName, static_cast<int32_t>(ITEM_NOT_INIT));
    return;
  }
  const std::u16string& TagName = Task.TaskDataList[0];
  const std::u16string& NewValue = Task.TaskDataList[1];
  const int32_t Result = OPCServer->WriteOPCItemValue(TagName, NewValue);
  if (Result >= 0) {
    Answer(SetValue, Id, Task.TaskID, TagName, NewValue);
  } else {
    Answer(ErrorSetValueAnswer, Id, Task.TaskID, TagName, Result);
  }
}

void TOPCWorker::DoDisconnect(const TElement& Task) {
  const int32_t Result = OPCServer->Disconnect();
  const std::u16string Id = GetOPCGuid();
  if (Result >= 0) {
    Answer(OPCDisconnect, Id, Task.TaskID);
  } else {
    Answer(ErrorDisconnectAnswer, TaskOPCDisconnect, Result, Task.TaskID, Id);
  }
}

void TOPCWorker::DoPing(const TElement& Task) {
  // Read before the owner's lock is taken: a server that does not answer must not hold up the
  // answers of every other worker.
  const int32_t State = OPCServer->GetOPCState();
  Answer(OPCPing, GetOPCGuid(), Task.TaskID, State);
}
