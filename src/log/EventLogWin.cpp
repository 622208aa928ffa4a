#include <windows.h>

#include "EventLogSink.h"

namespace {

// The one message of the program's message table: "%1", the text as given.
constexpr DWORD TextEventId = 1;

WORD EventType(TEventKind Kind) {
  switch (Kind) {
    case TEventKind::Error:
      return EVENTLOG_ERROR_TYPE;
    case TEventKind::Warning:
      return EVENTLOG_WARNING_TYPE;
    case TEventKind::Information:
      break;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

}  // namespace

TSystemEventLog::TSystemEventLog()
    : FSource(RegisterEventSourceW(nullptr, reinterpret_cast<const wchar_t*>(EventSourceName))) {}

TSystemEventLog::~TSystemEventLog() {
  if (FSource) DeregisterEventSource(FSource);
}

void TSystemEventLog::Report(TEventKind Kind, const std::u16string& Text) {
  if (!FSource) return;
  const std::wstring Wide(Text.begin(), Text.end());
  const wchar_t* Strings[] = {Wide.c_str()};
  ReportEventW(FSource, EventType(Kind), 0, TextEventId, nullptr, 1, 0, Strings, nullptr);
}
