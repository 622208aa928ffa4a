#include "Router.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "DecimalSeparator.h"
#include "JSONText.h"
#include "LinkClient.h"
#include "LinkCounters.h"
#include "Logger.h"
#include "OPCInteractor.h"
#include "RouterMessages.h"
#include "WriteValue.h"

namespace {

TArray JSONListToArray(TqvJSONbase* Field) {
  auto* List = Field ? Field->As<TqvJSONlist>() : nullptr;
  if (!List) throw EJSONInvalidCast();
  TArray Values(List->Count());
  for (int I = 0; I < List->Count(); ++I) Values[I] = List->getString(I);
  return Values;
}

TElement NewTask(int32_t TaskCode, int32_t TransID) {
  TElement Task;
  Task.TaskCode = TaskCode;
  Task.TaskID = TransID;
  return Task;
}

}  // namespace

TRouter::TRouter(std::chrono::milliseconds UpdatePeriod)
    : DecimalSeparator(UserDecimalSeparator()) {
  UpdateTimer = std::make_unique<TUpdateTimer>([this] { UpdateEvent(); }, UpdatePeriod);
}

TRouter::~TRouter() {
  Scans.WaitUntilNone();
  UpdateTimer.reset();
  {
    // Every worker is told first, so that all of them wind down within one shared wait.
    std::lock_guard Guard(RegistryLock);
    for (const TInteractorSlot& Slot : OPCInteractors)
      if (Slot.Interactor) Slot.Interactor->Terminate();
  }
  const auto Deadline = std::chrono::steady_clock::now() + TOPCInteractor::StopWait;
  for (size_t I = 0;; ++I) {
    std::unique_ptr<TOPCInteractor> Interactor;
    std::u16string Name;
    {
      std::lock_guard Guard(RegistryLock);
      if (I >= OPCInteractors.size()) break;
      Interactor = std::move(OPCInteractors[I].Interactor);
      Name = OPCInteractors[I].Name;
    }
    // Waits for the worker's thread, which may still call back; one stuck in a call to a server
    // that does not answer is left behind.
    if (Interactor && !Interactor->Stop(Deadline))
      Log(LogError, u"OPC server " + Name + u" does not answer: its worker is abandoned", 0);
    Interactor.reset();
  }
  std::lock_guard Guard(RegistryLock);
  OPCInteractors.clear();
}

void TRouter::SetUidProp(const std::u16string& Value) {
  std::lock_guard Guard(UidLock);
  Uid = Value;
}

void TRouter::SetTCPClientProp(std::shared_ptr<TLinkClient> Value) {
  {
    std::lock_guard Guard(ClientLock);
    TCPOnError = !Value;
    Greeted = !(Value && GreetingDue);
    if (Value) GreetingDue = false;
    IdTCPClient = std::move(Value);
  }
  GreetingWritten.notify_all();
}

void TRouter::ExpectGreeting() {
  std::lock_guard Guard(ClientLock);
  GreetingDue = true;
}

void TRouter::SetTCPError() {
  {
    std::lock_guard Guard(ClientLock);
    TCPOnError = true;
  }
  GreetingWritten.notify_all();
}

void TRouter::InitConnect() {
  SyncOPCInteractors();
  SendListServers(1, 0);
}

// ---- Request dispatch ----

void TRouter::MakeRouting(const std::u16string& Msg) {
  if (TLinkCounters* C = Counters) TLinkCounters::Add(C->Requests);
  try {
    Route(Msg);
  } catch (...) {
    Log(LogError, u"Fail parse request", 0);
  }
}

void TRouter::Route(const std::u16string& Msg) {
  const TqvJSONptr Document = TqvJSON::ParseText(Msg);
  auto* Request = Document ? Document->As<TqvJSONobject>() : nullptr;
  if (!Request) throw EJSONInvalidCast();
  const std::u16string Cmd = Request->getString(Request->IndexOfName(u"cmd"));
  const int32_t TransID = Request->getInt(Request->IndexOfName(u"TransID"));
  Log(LogInfo, u"GetCmd: " + Cmd, TransID);
  RouteCommand(Cmd, TransID, *Request);
}

void TRouter::RouteCommand(const std::u16string& Cmd, int32_t TransID, TqvJSONobject& Request) {
  auto Text = [&](const char16_t* Key) { return Request.getString(Request.IndexOfName(Key)); };
  if (Cmd == u"getOPCServers") {
    GetOPCServers(TransID);
  } else if (Cmd == u"OPCConnect") {
    const std::u16string OPCServerID = Text(u"OPCServerID");
    const std::u16string SyncMode = Text(u"syncMode");
    const int32_t ResponseTime = Request.getInt(Request.IndexOfName(u"responseTime"));
    OPCConnectTask(OPCServerID, SyncMode, ResponseTime, TransID);
  } else if (Cmd == u"getTags") {
    GetTagsTask(Text(u"OPCServerID"), TransID);
  } else if (Cmd == u"getValues") {
    const std::u16string OPCServerID = Text(u"OPCServerID");
    GetValuesTask(OPCServerID, TransID, JSONListToArray(Request.OldGetField(u"tagNames")));
  } else if (Cmd == u"setValue") {
    RouteSetValue(TransID, Request);
  } else if (Cmd == u"OPCDisconnect") {
    OPCDisconnectTask(Text(u"OPCServerID"), TransID);
  } else if (Cmd == u"ping") {
    PingTask(Text(u"OPCServerID"), TransID);
  }
}

// With writes disabled every write is refused as the OPC server refuses one (-14). Otherwise a
// value that cannot be read is answered with -16, whether or not the OPC server exists.
void TRouter::RouteSetValue(int32_t TransID, TqvJSONobject& Request) {
  const std::u16string OPCServerID = Request.getString(Request.IndexOfName(u"OPCServerID"));
  const std::u16string TagName = Request.getString(Request.IndexOfName(u"tagName"));
  if (!AllowWrites) {
    Log(LogError, u"Write refused: writes are disabled by AllowWrites", TransID);
    ErrorSetValueAnswer(OPCServerID, TransID, TagName, WRITE_ITEM_ERROR);
    return;
  }
  const std::optional<std::u16string> Value = WriteValueText(Request, DecimalSeparator);
  if (!Value) {
    ErrorAnswer(TaskSetValue, -16, TransID);
    return;
  }
  SetValueTask(OPCServerID, TransID, *Value, TagName);
}

// ---- Registry of workers ----

TOPCServers TRouter::GetOPCServersList() {
  TScanCount::TScope Scan(Scans);
  return ServerCache.Servers([this](int32_t Cmd, const std::u16string& Text) { Log(Cmd, Text, 0); });
}

// Counted as a scan until the last worker is registered, so that destruction waits for it.
void TRouter::SyncOPCInteractors() {
  TScanCount::TScope Scan(Scans);
  const TOPCServers Servers = GetOPCServersList();
  std::lock_guard Sync(SyncLock);
  for (const TOPCServerEntry& Server : Servers) {
    if (FindOPCInteractor(Server.Name, Server.GUID) >= 0) continue;
    auto Interactor = std::make_unique<TOPCInteractor>(Server.Name, Server.GUID);
    Interactor->SetLoggerProp(Logger);
    Interactor->SetAsyncGoodQualityProp(AsyncAnyGoodQuality);
    Interactor->SetBrowseElementsProp(BrowseElements);
    SetInteractorCallbacks(*Interactor);
    std::lock_guard Guard(RegistryLock);
    OPCInteractors.push_back({Server.Name, Server.GUID, std::move(Interactor)});
  }
}

int TRouter::FindOPCInteractor(const std::u16string& Name, const std::u16string& Guid) const {
  std::lock_guard Guard(RegistryLock);
  return FindSlot(Name, Guid);
}

int TRouter::FindSlot(const std::u16string& Name, const std::u16string& Guid) const {
  if (Name.empty() && Guid.empty()) return -1;
  for (size_t I = 0; I < OPCInteractors.size(); ++I) {
    const TInteractorSlot& Slot = OPCInteractors[I];
    if ((Name.empty() || Slot.Name == Name) && (Guid.empty() || Slot.Guid == Guid))
      return static_cast<int>(I);
  }
  return -1;
}

TOPCInteractor* TRouter::InteractorOf(const std::u16string& OPCServerID) const {
  std::lock_guard Guard(RegistryLock);
  const int Index = FindSlot(u"", OPCServerID);
  return Index < 0 ? nullptr : OPCInteractors[Index].Interactor.get();
}

void TRouter::SetInteractorCallbacks(TOPCInteractor& Interactor) {
  Interactor.SetErrorAnswerCallback(std::bind_front(&TRouter::ErrorAnswer, this));
  Interactor.SetCriticalSection(&CriticalSection);
  Interactor.SetOPCConnectCallback(std::bind_front(&TRouter::OPCConnectAnswer, this));
  Interactor.SetConnectErrorAnswerCallback(std::bind_front(&TRouter::ErrorConnectAnswer, this));
  Interactor.SetOPCDisconnectCallback(std::bind_front(&TRouter::OPCDisconnectAnswer, this));
  Interactor.SetDisconnectErrorAnswerCallback(std::bind_front(&TRouter::ErrorConnectAnswer, this));
  Interactor.SetGetTagsCallback(std::bind_front(&TRouter::GetTagsAnswer, this));
  Interactor.SetGetTagsErrorAnswerCallback(std::bind_front(&TRouter::ErrorConnectAnswer, this));
  Interactor.SetGetValuesCallback(std::bind_front(&TRouter::GetValuesAnswer, this));
  Interactor.SetGetValuesErrorAnswerCallback(std::bind_front(&TRouter::ErrorGetValuesAnswer, this));
  Interactor.SetSetValueCallback(std::bind_front(&TRouter::SetValueAnswer, this));
  Interactor.SetSetValueErrorAnswerCallback(std::bind_front(&TRouter::ErrorSetValueAnswer, this));
  Interactor.SetPingCallback(std::bind_front(&TRouter::PingAnswer, this));
  Interactor.SetNoticeCallback([this](const std::u16string& Text) { Log(LogInfo, Text, 0); });
}

void TRouter::QueueTask(const std::u16string& OPCServerID, const TElement& Task) {
  if (TOPCInteractor* Interactor = InteractorOf(OPCServerID)) Interactor->AddTask(Task);
}

void TRouter::GetOPCServers(int32_t TransID) {
  SyncOPCInteractors();
  SendListServers(2, TransID);
}

void TRouter::OPCConnectTask(const std::u16string& OPCServerID, const std::u16string& SyncMode,
                             int32_t ResponseTime, int32_t TransID) {
  TElement Task = NewTask(TaskOPCConnect, TransID);
  Task.TaskSyncMode = SyncMode;
  Task.TaskResponseTime = ResponseTime;
  QueueTask(OPCServerID, Task);
}

void TRouter::GetTagsTask(const std::u16string& OPCServerID, int32_t TransID) {
  QueueTask(OPCServerID, NewTask(TaskGetTags, TransID));
}

void TRouter::GetValuesTask(const std::u16string& OPCServerID, int32_t TransID,
                            const TArray& TagNames) {
  TElement Task = NewTask(TaskGetValues, TransID);
  Task.TaskDataList = TagNames;
  QueueTask(OPCServerID, Task);
}

void TRouter::SetValueTask(const std::u16string& OPCServerID, int32_t TransID,
                           const std::u16string& Value, const std::u16string& TagName) {
  TElement Task = NewTask(TaskSetValue, TransID);
  Task.TaskDataList = {TagName, Value};
  QueueTask(OPCServerID, Task);
}

void TRouter::OPCDisconnectTask(const std::u16string& OPCServerID, int32_t TransID) {
  QueueTask(OPCServerID, NewTask(TaskOPCDisconnect, TransID));
}

void TRouter::PingTask(const std::u16string& OPCServerID, int32_t TransID) {
  QueueTask(OPCServerID, NewTask(TaskPing, TransID));
}

// ---- Update cycle ----

void TRouter::UpdateEvent() {
  std::vector<TOPCInteractor*> Interactors;
  {
    std::lock_guard Guard(RegistryLock);
    for (const TInteractorSlot& Slot : OPCInteractors) Interactors.push_back(Slot.Interactor.get());
  }
  CountServers(Interactors);
  if (TCPOnError) return;
  const TElement Task = NewTask(TaskUpdateValues, 0);
  for (TOPCInteractor* Interactor : Interactors)
    if (Interactor && Interactor->IsOPCInit()) Interactor->AddTask(Task);
}

void TRouter::CountServers(const std::vector<TOPCInteractor*>& Interactors) {
  TLinkCounters* C = Counters;
  if (!C) return;
  int32_t Connected = 0;
  for (TOPCInteractor* Interactor : Interactors)
    if (Interactor && Interactor->IsOPCInit()) ++Connected;
  C->ServersFound = static_cast<int32_t>(Interactors.size());
  C->ServersConnected = Connected;
}

// ---- Answers ----

void TRouter::SendListServers(int32_t Mode, int32_t TransID) {
  std::vector<TOPCServerEntry> Servers;
  {
    std::lock_guard Guard(RegistryLock);
    for (const TInteractorSlot& Slot : OPCInteractors) Servers.push_back({Slot.Name, Slot.Guid});
  }
  std::u16string UidText;
  {
    std::lock_guard Guard(UidLock);
    UidText = Uid;
  }
  SendLine(ListServersMessage(Mode, TransID, UidText, Servers), Mode == 1);
  Log(LogDone, u"GetListServers", TransID);
}

void TRouter::OPCConnectAnswer(const std::u16string& OPCServerID, int32_t TransID) {
  SendAndLog(ConnectMessage(TaskOPCConnect, OPCServerID, TransID), u"OPCConnect", TransID);
}

void TRouter::OPCDisconnectAnswer(const std::u16string& OPCServerID, int32_t TransID) {
  SendAndLog(ConnectMessage(TaskOPCDisconnect, OPCServerID, TransID), u"OPCDisconnect", TransID);
}

void TRouter::GetTagsAnswer(const std::u16string& OPCServerID, int32_t TransID) {
  std::u16string Msg;
  {
    // A worker stays alive while its slot holds it, and its slot is emptied only under this lock.
    std::lock_guard Guard(RegistryLock);
    const int Index = FindSlot(u"", OPCServerID);
    if (Index < 0 || !OPCInteractors[Index].Interactor) return;
    Msg = GetTagsMessage(OPCServerID, TransID, OPCInteractors[Index].Interactor->GetOPCTagsArr());
  }
  SendAndLog(Msg, u"ListTags", TransID);
}

void TRouter::GetValuesAnswer(const std::u16string& OPCServerID, int32_t TransID,
                              const TArray& ValueNames, const TArray& Values,
                              const TArray& Qualities) {
  TLinkCounters* C = Counters;
  if (C && TransID == 0) {
    TLinkCounters::Add(C->Pushes);
    TLinkCounters::Add(C->PushedValues, Values.size());
  }
  SendAndLog(GetValuesMessage(OPCServerID, TransID, ValueNames, Values, Qualities), u"getValues",
             TransID);
}

void TRouter::SetValueAnswer(const std::u16string& OPCServerID, int32_t TransID,
                             const std::u16string& ValueName, const std::u16string& Value) {
  SendAndLog(SetValueMessage(OPCServerID, TransID, ValueName, Value), u"setValue", TransID);
}

void TRouter::PingAnswer(const std::u16string& OPCServerID, int32_t TransID, int32_t State) {
  SendAndLog(PingMessage(OPCServerID, TransID, State), u"Ping", TransID);
}

void TRouter::ErrorAnswer(int32_t Mode, int32_t ErrorCode, int32_t TransID) {
  LogAndSendError(ErrorMessageText(Mode, ErrorCode, TransID), ErrorCode, TransID);
}

void TRouter::ErrorConnectAnswer(int32_t Mode, int32_t ErrorCode, int32_t TransID,
                                 const std::u16string& OPCServerID) {
  LogAndSendError(ErrorConnectMessage(Mode, ErrorCode, TransID, OPCServerID), ErrorCode, TransID);
}

void TRouter::ErrorGetValuesAnswer(const std::u16string&, int32_t TransID, int32_t ErrorCode,
                                   const TArray& ValueNames) {
  LogAndSendError(ErrorGetValuesMessage(TransID, ErrorCode, ValueNames), ErrorCode, TransID);
}

void TRouter::ErrorSetValueAnswer(const std::u16string&, int32_t TransID,
                                  const std::u16string& ValueName, int32_t ErrorCode) {
  LogAndSendError(ErrorSetValueMessage(TransID, ValueName, ErrorCode), ErrorCode, TransID);
}

// The line's entries and the answer's own are handed to the log together, once the line is out.
void TRouter::SendAndLog(const std::u16string& Msg, const std::u16string& LogText,
                         int32_t TransID) {
  TLogger* Current = Logger;
  const TLogger::TTicket Written = WriteLine(Msg, false, Current);
  const TLogger::TTicket Done = Current ? Current->Queue(LogDone, LogText, TransID) : 0;
  if (Current) Current->Deliver(std::max(Written, Done));
}

void TRouter::LogAndSendError(const std::u16string& Msg, int32_t ErrorCode, int32_t TransID) {
  Log(LogError, ErrorMessage(ErrorCode), TransID);
  TCPSend(Msg);
}

// ---- Link writing ----

// The client a line may be written on now: none while the link is down, and none for any line
// but the greeting until the greeting of the current client has been written.
std::shared_ptr<TLinkClient> TRouter::UsableClient(bool Greeting) const {
  std::lock_guard Guard(ClientLock);
  return TCPOnError || !(Greeting || Greeted) ? nullptr : IdTCPClient;
}

// Holds a line back while the current connection still waits for its greeting; false when there
// is no usable link (then the line is not written, as with any line while the link is down).
bool TRouter::WaitForGreeting(bool Greeting) {
  std::unique_lock Guard(ClientLock);
  GreetingWritten.wait(Guard, [&] { return Greeting || Greeted || TCPOnError || !IdTCPClient; });
  return !TCPOnError && IdTCPClient;
}

void TRouter::MarkGreeted(const std::shared_ptr<TLinkClient>& Client) {
  {
    std::lock_guard Guard(ClientLock);
    if (IdTCPClient == Client) Greeted = true;
  }
  GreetingWritten.notify_all();
}

void TRouter::TCPSend(const std::u16string& Msg) { SendLine(Msg, false); }

// Writes the line, then hands its entries to the log once the writer's lock is released.
void TRouter::SendLine(const std::u16string& Msg, bool Greeting) {
  TLogger* Current = Logger;
  const TLogger::TTicket Written = WriteLine(Msg, Greeting, Current);
  if (Current) Current->Deliver(Written);
}

// The wait comes before the writer's lock, which the greeting itself needs. The write's entries
// are queued under the lock, so that they keep the order of the lines, and the caller hands them
// over (Deliver) after it: no writer waits for the window thread while holding the lock.
TLogger::TTicket TRouter::WriteLine(const std::u16string& Msg, bool Greeting, TLogger* Log) {
  if (!WaitForGreeting(Greeting)) return 0;
  std::lock_guard Writer(WriteLock);
  std::shared_ptr<TLinkClient> Client = UsableClient(Greeting);
  if (!Client) return 0;
  auto Queue = [Log](const char16_t* Text) { return Log ? Log->Queue(LogInfo, Text) : 0; };
  TLogger::TTicket Logged = 0;
  try {
    Logged = Queue(u"Socket Ecn");
    if ((Client = UsableClient(Greeting))) Client->DefStringEncoding = TTextEncoding::Utf8;
    Logged = std::max(Logged, Queue(u"Socket Write"));
    if ((Client = UsableClient(Greeting))) Client->WriteLn(Msg);
    if (TLinkCounters* C = Counters; Client && C) TLinkCounters::Add(C->Written);
  } catch (...) {
    Logged = std::max(Logged, Queue(u"TCP Write Exception"));
    // Only the failed transport is marked: one handed over meanwhile stays usable.
    {
      std::lock_guard Guard(ClientLock);
      if (IdTCPClient == Client) TCPOnError = true;
    }
    GreetingWritten.notify_all();  // lines waiting for a greeting that failed give up
    return Logged;
  }
  if (Greeting && Client) MarkGreeted(Client);
  return Logged;
}

void TRouter::Log(int32_t Cmd, const std::u16string& Text, int32_t TransID) {
  if (TLogger* Current = Logger) Current->ToLog(Cmd, Text, TransID);
}
