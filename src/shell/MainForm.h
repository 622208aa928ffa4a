// The main window: starts the log and the link, shows and applies the connection settings, counts
// the reads, shows the log and lives in the notification area while minimised.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "AppConfig.h"
#include "AutoStart.h"
#include "CommandGate.h"
#include "Communicate.h"
#include "StatusLine.h"
#include "TrayIcon.h"

class TAgent;
class TLogger;
class TSingleAgent;
class TLogView;

class TMainFrm {
 public:
  // NextRandom supplies the numbers for a new client identifier.
  TMainFrm(HINSTANCE Instance, std::function<double()> NextRandom);
  ~TMainFrm();
  TMainFrm(const TMainFrm&) = delete;
  TMainFrm& operator=(const TMainFrm&) = delete;

  // The result of setting the process-wide COM security at start; a failure is logged once the
  // log exists. Before Create.
  void SetComSecurityProp(HRESULT Value) { FComSecurity = Value; }
  // Set when the service runs the link on this machine: the window then opens no link of its own
  // and says so in its log. Before Create.
  void SetServiceRunsProp(bool Value) { FServiceRuns = Value; }
  // Asked every few seconds while this window holds the link: whether the service runs now.
  void SetServiceQueryProp(std::function<bool()> Query) { FServiceQuery = std::move(Query); }
  // This process's claim on its configuration; the window shows itself when a second start of
  // the program asks through it. Not owned; before Create.
  void SetSingleAgentProp(const TSingleAgent* Value) { FSingleAgent = Value; }
  // Creates the window (running FormCreate) and shows it. False when the window cannot be made.
  bool Create(int ShowCommand);
  HWND Handle() const { return FHandle; }
  // Hands one message of the window thread's queue to its window, with the keyboard navigation
  // between the controls.
  void DispatchQueued(MSG& Msg);

 private:
  static LRESULT CALLBACK WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
  LRESULT HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam);
  LRESULT Dispatch(UINT Msg, WPARAM WParam, LPARAM LParam);
  template <typename F>
  void Guarded(F Action);
  void RunCommand(TCommandGate::TCommand Command);
  void ShowError(const std::u16string& Text);
  void ShowModalBox(const std::wstring& Text);

  void FormCreate();
  void InitApp();
  bool ReadIni();
  void ReportServiceRuns();
  void WatchService();
  void InitControls();
  void InitCommunicate();
  void ApplyButtonClick();
  void FormResize();
  void OnMinimize();
  void TrayIconClick();
  void IncQuery();
  void ShowQueryCount();
  void FormClose();
  LRESULT WMLogMessage();
  static bool MessagesWaiting();
  void ProcessPendingMessages();
  void LogEnabCheckBoxClick();
  void ShowStatus();
  void UpdateTray(const TCommunicate::TLinkStatus& Status);
  void ShowTrayMenu();
  void ShowFromTray();

  void CreateControls();
  void ApplyDpi(UINT Dpi);
  void LayoutControls();
  int Scale(int Pixels) const;
  void Place(HWND Control, int Left, int Top, int Width, int Height);

  HINSTANCE FInstance;
  std::function<double()> FNextRandom;
  HRESULT FComSecurity = S_OK;
  bool FServiceRuns = false;
  std::function<bool()> FServiceQuery;
  const TSingleAgent* FSingleAgent = nullptr;
  HWND FHandle = nullptr;
  UINT FDpi = 96;
  HFONT FFont = nullptr;
  HICON FIconLarge = nullptr;
  HICON FIconSmall = nullptr;
  // The tray icon's pictures of a link that is up or not, and which one shows.
  HICON FIconConnected = nullptr;
  HICON FIconDisconnected = nullptr;
  bool FTrayConnected = false;
  TAutoStart AutoStart{L"Tagrelay"};
  UINT FTaskbarCreatedMsg = 0;
  // Modal loops running on the window thread: the ones this window opens itself (message boxes,
  // the tray menu), counted around the call, and the ones told by their start and end messages
  // (the system menu, moving or sizing). Kept apart, since the system may send the end message of
  // a menu opened without notifications too, which must not unbalance the count.
  int FModalLoops = 0;
  bool FInMenuLoop = false;
  bool FInSizeMove = false;
  // Apply and Close, one at a time; busy too while a log entry lets pending messages through.
  TCommandGate FGate{[this](TCommandGate::TCommand Command) { RunCommand(Command); }};

  // Fields of the window, in their documented order. The log panel is the left column of the
  // client area, LogPanelWidth wide at 96 dpi; its children are Label1 and MemoLog.
  static constexpr int LogPanelWidth = 385;
  HWND MemoLog = nullptr;
  HWND Label1 = nullptr;
  HWND ServerIpAddrLabel = nullptr;
  HWND ServerIpAddrEdit = nullptr;
  HWND ServerPortLabel = nullptr;
  HWND ServerPortEdit = nullptr;
  HWND ClientUidLabel = nullptr;
  HWND ClientUidEdit = nullptr;
  HWND ApplyButton = nullptr;
  HWND QueryCountLabel = nullptr;
  HWND LogEnabCheckBox = nullptr;
  HWND SSLConnectCheckBox = nullptr;
  // Below Apply: the link's state and counters, read on a timer.
  HWND StatusLabel = nullptr;
  TStatusLine StatusLine;
  std::unique_ptr<TTrayIcon> TrayIcon;
  // The list drawing MemoLog's rows from the log; it outlives the log that feeds it.
  std::unique_ptr<TLogView> LogView;
  std::unique_ptr<TLogger> Logger;
  // Counted on the reader thread, shown on the window thread.
  std::atomic<int32_t> QueryCount{0};
  std::atomic<bool> QueryCountPosted{false};
  // The settings, the file log and the link. Declared after Logger: the link is torn down before
  // the log goes.
  std::unique_ptr<TAgent> Agent;
};
