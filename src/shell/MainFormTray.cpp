// The main window's status line and its tray icon: the link's state in words, the icon and tip
// that follow it, and the tray icon's menu; the status timer also reports a log file that cannot
// be written.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "Agent.h"
#include "Communicate.h"
#include "LogFile.h"
#include "Logger.h"
#include "MainForm.h"
#include "MainFormIds.h"

namespace {

std::wstring W(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

std::wstring LabelText(HWND label) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(label)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(label, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace

// Runs on the status timer: reads the link's state and counters (no lock on their paths) and
// shows them, in the status line and in the tray icon.
void TMainFrm::ShowStatus() {
  TCommunicate::TLinkStatus status;
  TCounterReading reading;
  if (const TCommunicate* link = Agent ? Agent->Link() : nullptr) {
    status = link->Status();
    reading = TCounterReading::Of(link->Counters());
  }
  const std::wstring text = W(StatusLine.Update(status, reading, std::chrono::steady_clock::now()));
  if (text != LabelText(StatusLabel)) SetWindowTextW(StatusLabel, text.c_str());
  UpdateTray(status);
  // A log file that cannot be written is told once, in the view whether logging is on or not.
  if (TLogFile* logFile = Agent ? Agent->LogFile() : nullptr; logFile && Logger) {
    if (std::optional<std::u16string> failure = logFile->TakeFailure())
      Logger->MessageToLog(LogError, *failure);
  }
}

void TMainFrm::UpdateTray(const TCommunicate::TLinkStatus& Status) {
  if (!TrayIcon) return;
  const bool connected = Status.State == TCommunicate::TLinkState::Connected;
  if (connected != FTrayConnected) {
    FTrayConnected = connected;
    TrayIcon->SetIcon(connected ? FIconConnected : FIconDisconnected);
    // Shell_NotifyIcon handles sent messages while it waits for the notification area: the
    // session's end (WM_ENDSESSION, sent) may have closed the window and taken the icon away.
    if (!TrayIcon) return;
  }
  TrayIcon->SetHint(W(TStatusLine::TrayTip(Status)));
}

// Show, Start with Windows (checked while the Run entry exists) and Exit.
void TMainFrm::ShowTrayMenu() {
  std::unique_ptr<std::remove_pointer_t<HMENU>, decltype(&DestroyMenu)> menu(CreatePopupMenu(),
                                                                             &DestroyMenu);
  if (!menu) return;
  const bool autoStart = AutoStart.Enabled();
  AppendMenuW(menu.get(), MF_STRING, IDM_TRAYSHOW, L"Show");
  AppendMenuW(menu.get(), MF_STRING | (autoStart ? MF_CHECKED : MF_UNCHECKED), IDM_TRAYAUTOSTART,
              L"Start with Windows");
  AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu.get(), MF_STRING, IDM_TRAYEXIT, L"Exit");
  POINT at;
  GetCursorPos(&at);
  // The menu closes on a click elsewhere only while its owner is in the foreground.
  SetForegroundWindow(FHandle);
  ++FModalLoops;  // the menu's loop takes its own input
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(
      menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, FHandle, nullptr));
  --FModalLoops;
  PostMessageW(FHandle, WM_NULL, 0, 0);
  switch (chosen) {
    case IDM_TRAYSHOW:
      ShowFromTray();
      break;
    case IDM_TRAYAUTOSTART:
      AutoStart.Set(!autoStart);
      break;
    case IDM_TRAYEXIT:
      FGate.Request(TCommandGate::TCommand::Close);
      break;
    default:
      break;
  }
}
