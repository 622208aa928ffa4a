#include "Logger.h"

#include "LogFile.h"

#ifdef _WIN32
#include "LogView.h"
#endif

TLogger::TLogger() = default;

#ifdef _WIN32
TLogger::TLogger(TLogView* View, HWND LogEnabCheckBox, HWND FrmHandle)
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

void TLogger::ToLog(int32_t Cmd, std::u16string_view Text, int32_t TransID) {
  TLogFile* File = LogFile;
  if (!LogEnabled && !File) return;
  std::u16string Entry = LogEntryText(Text, TransID);
  if (File) File->Append(LogEntryLines(Cmd, Entry));
  if (!LogEnabled) return;
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
  std::vector<std::u16string> Added = LogEntryLines(Cmd, Text);
  {
    std::lock_guard<std::mutex> Guard(LinesLock);
    Log.Append(Added);
    Log.Trim();
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
