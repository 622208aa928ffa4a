#include "Logger.h"

#include <algorithm>

#include "LogSink.h"

TLogger::TLogger() = default;

#ifdef _WIN32
TLogger::TLogger(TLogObserver* View, HWND LogEnabCheckBox, HWND FrmHandle)
    : View(View),
      LogEnabCheckBox(LogEnabCheckBox),
      FrmHandle(FrmHandle),
      WindowThread(GetWindowThreadProcessId(FrmHandle, nullptr)) {
  LogEnabled = LogEnabCheckBox && SendMessageW(LogEnabCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
  if (View) View->SetSource(this);
}

TLogger::~TLogger() {
  if (View) View->SetSource(nullptr);
}
#else
TLogger::~TLogger() = default;
#endif

TLogger::TTicket TLogger::Queue(int32_t Cmd, std::u16string_view Text, int32_t TransID) {
  if (!LogEnabled && !HasSinks) return 0;
  std::u16string Entry = LogEntryText(Text, TransID);
  ToSinks(Cmd, Entry);
  if (!LogEnabled) return 0;
  const TTicket Ticket = Enqueue(Cmd, std::move(Entry));
#ifdef _WIN32
  if (FrmHandle && GetCurrentThreadId() != WindowThread) return Ticket;
#endif
  TakeQueued();
  return Ticket;
}

TLogger::TTicket TLogger::Enqueue(int32_t Cmd, std::u16string Text) {
  std::lock_guard<std::mutex> Guard(QueueLock);
  Queued.push_back({Cmd, std::move(Text)});
  return ++LastQueued;
}

void TLogger::ToSinks(int32_t Cmd, const std::u16string& Entry) {
  if (!HasSinks) return;
  std::lock_guard<std::mutex> Guard(SinksLock);
  if (Sinks.empty()) return;
  const std::vector<std::u16string> Lines = LogEntryLines(Cmd, Entry);
  for (TLogSink* Sink : Sinks) Sink->Write(Cmd, Lines);
}

void TLogger::AddSink(TLogSink* Sink) {
  std::lock_guard<std::mutex> Guard(SinksLock);
  Sinks.push_back(Sink);
  HasSinks = true;
}

void TLogger::RemoveSink(TLogSink* Sink) {
  std::lock_guard<std::mutex> Guard(SinksLock);
  Sinks.erase(std::remove(Sinks.begin(), Sinks.end(), Sink), Sinks.end());
  HasSinks = !Sinks.empty();
}

void TLogger::MessageToLog(int32_t Cmd, std::u16string_view Text) {
  ToSinks(Cmd, std::u16string(Text));
  Enqueue(Cmd, std::u16string(Text));
  TakeQueued();
}

void TLogger::Deliver(TTicket Ticket) {
  if (Ticket == 0 || Taken >= Ticket) return;
#ifdef _WIN32
  // The window thread takes every entry queued before this message; the reply comes once it has.
  if (FrmHandle) SendMessageW(FrmHandle, WM_LOGMESSAGE, 0, 0);
#endif
}

// The lines' lock is held from taking the entries to appending them, so that entries taken by
// two threads (without a window) still reach the log in the order they were queued.
void TLogger::TakeQueued() {
  {
    std::lock_guard<std::mutex> Guard(LinesLock);
    std::vector<TEntry> Entries;
    TTicket Last = 0;
    {
      std::lock_guard<std::mutex> QueueGuard(QueueLock);
      Entries.swap(Queued);
      Last = LastQueued;
    }
    if (Entries.empty()) return;
    for (const TEntry& Entry : Entries) Log.Append(LogEntryLines(Entry.Cmd, Entry.Text));
    Log.Trim();
    Taken = Last;
  }
  ViewChanged();
}

void TLogger::Clear() {
  {
    std::lock_guard<std::mutex> Guard(LinesLock);
    Log.Clear();
  }
  ViewChanged();
}

std::vector<std::u16string> TLogger::Lines() const {
  std::lock_guard<std::mutex> Guard(LinesLock);
  return {Log.Items().begin(), Log.Items().end()};
}

TLogger::TRange TLogger::Range() const {
  std::lock_guard<std::mutex> Guard(LinesLock);
  return {Log.First(), Log.Count()};
}

bool TLogger::LineText(std::uint64_t Number, std::u16string& Text) const {
  std::lock_guard<std::mutex> Guard(LinesLock);
  const std::u16string* Line = Log.Line(Number);
  if (!Line) return false;
  Text = *Line;
  return true;
}

void TLogger::ViewChanged() {
#ifdef _WIN32
  if (View) View->Changed();
#endif
}
