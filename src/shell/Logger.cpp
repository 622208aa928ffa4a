#include "Logger.h"

TLogger::TLogger() = default;

#ifdef _WIN32
TLogger::TLogger(HWND Memo, HWND LogEnabCheckBox, HWND FrmHandle)
    : Memo(Memo),
      LogEnabCheckBox(LogEnabCheckBox),
      FrmHandle(FrmHandle),
      WindowThread(GetWindowThreadProcessId(FrmHandle, nullptr)) {
  LogEnabled = LogEnabCheckBox && SendMessageW(LogEnabCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
}
#endif

void TLogger::ToLog(int32_t Cmd, std::u16string_view Text, int32_t TransID) {
  if (!LogEnabled) return;
  std::u16string Entry = LogEntryText(Text, TransID);
#ifdef _WIN32
  if (FrmHandle && GetCurrentThreadId() != WindowThread) {
    SendMessageW(FrmHandle, WM_LOGMESSAGE, static_cast<WPARAM>(Cmd),
                 reinterpret_cast<LPARAM>(Entry.c_str()));
    return;
  }
#endif
  MessageToLog(Cmd, Entry);
}

void TLogger::MessageToLog(int32_t Cmd, std::u16string_view Text) {
  std::u16string Added;
  std::size_t Removed;
  {
    std::lock_guard<std::mutex> Guard(LinesLock);
    Added = Log.Append(LogEntryLines(Cmd, Text));
    Removed = Log.Trim();
  }
  UpdateView(Removed, Added);
}

void TLogger::Clear() {
  {
    std::lock_guard<std::mutex> Guard(LinesLock);
    Log.Clear();
  }
#ifdef _WIN32
  if (Memo) SetWindowTextW(Memo, L"");
#endif
}

std::vector<std::u16string> TLogger::Lines() const {
  std::lock_guard<std::mutex> Guard(LinesLock);
  return {Log.Items().begin(), Log.Items().end()};
}

void TLogger::UpdateView(std::size_t Removed, const std::u16string& Added) {
#ifdef _WIN32
  if (!Memo) return;
  const auto* AddedText = reinterpret_cast<const wchar_t*>(Added.c_str());
  if (!Added.empty()) {
    LRESULT End = GetWindowTextLengthW(Memo);
    SendMessageW(Memo, EM_SETSEL, End, End);
    SendMessageW(Memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(AddedText));
  }
  if (Removed > 0) {
    SendMessageW(Memo, EM_SETSEL, 0, static_cast<LPARAM>(Removed));
    SendMessageW(Memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
  }
  // Keep the end of the log in sight.
  LRESULT Count = SendMessageW(Memo, EM_GETLINECOUNT, 0, 0);
  SendMessageW(Memo, EM_LINESCROLL, 0, Count);
#else
  (void)Removed;
  (void)Added;
#endif
}
