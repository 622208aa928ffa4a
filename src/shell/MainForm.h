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
#include "TrayIcon.h"

class TLogger;
class TCommunicate;

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
  void ShowError(const std::u16string& Text);

  void FormCreate();
  void InitApp();
  bool ReadIni();
  void InitControls();
  void InitCommunicate();
  void ApplyButtonClick();
  void FormResize();
  void OnMinimize();
  void TrayIconClick();
  void IncQuery();
  void ShowQueryCount();
  void FormClose();
  LRESULT WMLogMessage(WPARAM WParam, LPARAM LParam);
  void ProcessPendingMessages();
  void LogEnabCheckBoxClick();

  void CreateControls();
  void ApplyDpi(UINT Dpi);
  void LayoutControls();
  int Scale(int Pixels) const;
  void Place(HWND Control, int Left, int Top, int Width, int Height);

  HINSTANCE FInstance;
  std::function<double()> FNextRandom;
  HRESULT FComSecurity = S_OK;
  HWND FHandle = nullptr;
  UINT FDpi = 96;
  HFONT FFont = nullptr;
  HICON FIconLarge = nullptr;
  HICON FIconSmall = nullptr;
  UINT FTaskbarCreatedMsg = 0;
  // Set while Apply or Close runs, and while a log entry lets pending messages through: no
  // other handler may start inside them.
  int FBusyDepth = 0;

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
  std::unique_ptr<TTrayIcon> TrayIcon;
  std::unique_ptr<TLogger> Logger;
  std::u16string Uid;
  std::u16string Host;
  int32_t Port = 0;
  bool SSLSecure = false;
  // Counted on the reader thread, shown on the window thread.
  std::atomic<int32_t> QueryCount{0};
  std::atomic<bool> QueryCountPosted{false};
  // Declared after Logger: the link is torn down before the log goes.
  std::unique_ptr<TCommunicate> Communicate;
};
