// The main window: its controls and their layout at the monitor's DPI, the window procedure,
// Apply, the tray icon's clicks and the log entries sent to the window thread. The start and end
// are in MainFormStart.cpp, the status line and the tray menu in MainFormTray.cpp.
#include "MainForm.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <string>

#include "Agent.h"
#include "LogView.h"
#include "Logger.h"
#include "MainFormIds.h"
#include "SingleAgent.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace {

constexpr wchar_t ErrorCaption[] = L"Tagrelay";

// Layout at 96 dpi.
constexpr int ClientWidth = 725;
constexpr int ClientHeight = 566;
constexpr int RightColumnLeft = 408;
constexpr int LabelHeight = 13;
constexpr int EditHeight = 21;
constexpr int EditWidth = 121;
constexpr int EditMargin = 50;

std::wstring W(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

std::u16string TextOf(HWND control) {
  int n = GetWindowTextLengthW(control);
  std::wstring text(n + 1, L'\0');
  n = GetWindowTextW(control, text.data(), n + 1);
  return std::u16string(text.begin(), text.begin() + n);
}

void SetText(HWND control, std::u16string_view text) {
  SetWindowTextW(control, W(text).c_str());
}

// Per-monitor DPI functions exist from Windows 10 on; older systems use the system DPI.
template <typename F>
F User32Function(const char* name) {
  return reinterpret_cast<F>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

UINT WindowDpi(HWND wnd) {
  static const auto getDpiForWindow = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  if (getDpiForWindow && wnd) return getDpiForWindow(wnd);
  HDC dc = GetDC(nullptr);
  UINT dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi ? dpi : 96;
}

RECT OuterRect(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, UINT dpi) {
  static const auto adjustForDpi =
      User32Function<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
  RECT r{0, 0, clientWidth, clientHeight};
  if (adjustForDpi)
    adjustForDpi(&r, style, FALSE, exStyle, dpi);
  else
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
  return r;
}

HICON LoadAppIcon(HINSTANCE instance, int size, int id = IDI_MAINICON) {
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
}

// Message boxes are centred on the screen: a hook moves the box as it is activated.
thread_local HHOOK CenterHook = nullptr;

LRESULT CALLBACK CenterMessageBox(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wParam);
    RECT r;
    GetWindowRect(box, &r);
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromWindow(box, MONITOR_DEFAULTTOPRIMARY), &mi);
    int x = (mi.rcMonitor.left + mi.rcMonitor.right - (r.right - r.left)) / 2;
    int y = (mi.rcMonitor.top + mi.rcMonitor.bottom - (r.bottom - r.top)) / 2;
    SetWindowPos(box, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    UnhookWindowsHookEx(CenterHook);
    CenterHook = nullptr;
    return 0;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void ShowMessageBox(HWND owner, const std::wstring& text, UINT flags) {
  CenterHook = SetWindowsHookExW(WH_CBT, CenterMessageBox, nullptr, GetCurrentThreadId());
  MessageBoxW(owner, text.c_str(), ErrorCaption, flags);
  if (CenterHook) UnhookWindowsHookEx(CenterHook);
  CenterHook = nullptr;
}

}  // namespace

TMainFrm::TMainFrm(HINSTANCE Instance, std::function<double()> NextRandom)
    : FInstance(Instance), FNextRandom(std::move(NextRandom)) {}

TMainFrm::~TMainFrm() {
  Agent.reset();
  TrayIcon.reset();
  if (FHandle) DestroyWindow(FHandle);
  Logger.reset();
  LogView.reset();
  if (FFont) DeleteObject(FFont);
  if (FIconLarge) DestroyIcon(FIconLarge);
  if (FIconSmall) DestroyIcon(FIconSmall);
  if (FIconConnected) DestroyIcon(FIconConnected);
  if (FIconDisconnected) DestroyIcon(FIconDisconnected);
}

bool TMainFrm::Create(int ShowCommand) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = FInstance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = MainFrmClassName;
  wc.hIcon = LoadAppIcon(FInstance, GetSystemMetrics(SM_CXICON));
  wc.hIconSm = LoadAppIcon(FInstance, GetSystemMetrics(SM_CXSMICON));
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

  // The size is set once the window knows the DPI of its monitor (ApplyDpi).
  const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_CONTROLPARENT;
  if (!CreateWindowExW(exStyle, MainFrmClassName, MainFrmCaption, style, CW_USEDEFAULT,
                       CW_USEDEFAULT, ClientWidth, ClientHeight, nullptr, nullptr, FInstance,
                       this)) {
    return false;
  }
  RECT outer = OuterRect(Scale(ClientWidth), Scale(ClientHeight), style, exStyle, FDpi);
  int w = outer.right - outer.left, h = outer.bottom - outer.top;
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  GetMonitorInfoW(MonitorFromWindow(FHandle, MONITOR_DEFAULTTOPRIMARY), &mi);
  const RECT& work = mi.rcWork;
  int x = work.left + std::max(0L, (work.right - work.left - w) / 2);
  int y = work.top + std::max(0L, (work.bottom - work.top - h) / 2);
  SetWindowPos(FHandle, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(FHandle, ShowCommand);
  UpdateWindow(FHandle);
  return true;
}

LRESULT CALLBACK TMainFrm::WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == WM_NCCREATE) {
    auto* self = static_cast<TMainFrm*>(reinterpret_cast<CREATESTRUCTW*>(LParam)->lpCreateParams);
    self->FHandle = Wnd;
    SetWindowLongPtrW(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TMainFrm*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(Wnd, Msg, WParam, LParam);
  return self->HandleMessage(Msg, WParam, LParam);
}

// After each message, the commands that arrived while another one ran get their turn.
LRESULT TMainFrm::HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
  LRESULT result = 0;
  Guarded([&] { result = Dispatch(Msg, WParam, LParam); });
  bool more = true;
  while (more) Guarded([&] { more = FGate.RunNext(); });
  return result;
}

// The general error handler: an error escaping a handler is shown to the user and the program
// goes on.
template <typename F>
void TMainFrm::Guarded(F Action) {
  try {
    Action();
  } catch (const EIniWriteError& e) {
    ShowError(e.Text());
  } catch (const std::exception& e) {
    std::string what = e.what();
    ShowError(std::u16string(what.begin(), what.end()));
  } catch (...) {
    ShowError(u"An error occurred in the application.");
  }
}

void TMainFrm::RunCommand(TCommandGate::TCommand Command) {
  if (Command == TCommandGate::TCommand::Apply) {
    ApplyButtonClick();
  } else {
    FormClose();
    DestroyWindow(FHandle);
  }
}

void TMainFrm::ShowError(const std::u16string& Text) {
  ShowModalBox(W(Text));
}

// A message box runs a modal loop of its own, whose input the log's pass must leave alone.
void TMainFrm::ShowModalBox(const std::wstring& Text) {
  ++FModalLoops;
  ShowMessageBox(FHandle, Text, MB_OK | MB_ICONERROR);
  --FModalLoops;
}

LRESULT TMainFrm::Dispatch(UINT Msg, WPARAM WParam, LPARAM LParam) {
  switch (Msg) {
    case WM_CREATE:
      FDpi = WindowDpi(FHandle);
      CreateControls();
      ApplyDpi(FDpi);
      FormCreate();
      return 0;
    case WM_SIZE:
      if (WParam == SIZE_MINIMIZED) {
        OnMinimize();
      } else {
        LayoutControls();
        FormResize();
      }
      return 0;
    case WM_GETMINMAXINFO: {
      // Keep the settings column in sight.
      auto* info = reinterpret_cast<MINMAXINFO*>(LParam);
      RECT outer =
          OuterRect(Scale(RightColumnLeft + EditWidth + 16), Scale(310),
                    GetWindowLongW(FHandle, GWL_STYLE), GetWindowLongW(FHandle, GWL_EXSTYLE), FDpi);
      info->ptMinTrackSize = {outer.right - outer.left, outer.bottom - outer.top};
      return 0;
    }
    case WM_DPICHANGED: {
      ApplyDpi(HIWORD(WParam));
      const RECT* r = reinterpret_cast<const RECT*>(LParam);
      SetWindowPos(FHandle, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (LogView && LogView->Notify(reinterpret_cast<const NMHDR*>(LParam), result)) return result;
      break;
    }
    case WM_COMMAND:
      if (HIWORD(WParam) == BN_CLICKED) {
        if (LOWORD(WParam) == IDC_APPLYBUTTON) FGate.Request(TCommandGate::TCommand::Apply);
        if (LOWORD(WParam) == IDC_LOGENABCHECKBOX) LogEnabCheckBoxClick();
        return 0;
      }
      break;
    case WM_LOGMESSAGE:
      return WMLogMessage();
    case WM_ENTERMENULOOP:
    case WM_EXITMENULOOP:
      FInMenuLoop = Msg == WM_ENTERMENULOOP;
      break;
    case WM_ENTERSIZEMOVE:
    case WM_EXITSIZEMOVE:
      FInSizeMove = Msg == WM_ENTERSIZEMOVE;
      break;
    case WM_TIMER:
      if (WParam == ServiceWatchTimerId) {
        WatchService();
        return 0;
      }
      if (WParam != StatusTimerId) break;
      ShowStatus();
      return 0;
    case WM_QUERYCOUNTCHANGED:
      ShowQueryCount();
      return 0;
    case WM_TRAYICON:
      if (LParam == WM_LBUTTONUP) TrayIconClick();
      if (LParam == WM_RBUTTONUP) ShowTrayMenu();
      return 0;
    case WM_CLOSE:
      FGate.Request(TCommandGate::TCommand::Close);
      return 0;
    case WM_ENDSESSION:
      // The session ends (log-off, shutdown): the process may be ended as soon as this returns,
      // so the link and the servers are closed and the log written now, as by Close. A close
      // that must wait for a command under way is queued behind it.
      if (WParam) FGate.Request(TCommandGate::TCommand::Close);
      return 0;
    case WM_DESTROY:
      FGate.Stop();
      TrayIcon.reset();
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY: {
      HWND wnd = FHandle;
      SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
      FHandle = nullptr;
      return DefWindowProcW(wnd, Msg, WParam, LParam);
    }
    default:
      if (Msg == FTaskbarCreatedMsg && FTaskbarCreatedMsg != 0 && TrayIcon) {
        TrayIcon->Reshow();
        return 0;
      }
      if (FSingleAgent && FSingleAgent->IsShowRequest(Msg, WParam)) {
        ShowFromTray();
        return 0;
      }
      break;
  }
  return DefWindowProcW(FHandle, Msg, WParam, LParam);
}

void TMainFrm::CreateControls() {
  auto make = [this](const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, int id) {
    return CreateWindowExW(exStyle, cls, text, WS_CHILD | style, 0, 0, 0, 0, FHandle,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), FInstance, nullptr);
  };
  // Creation order is the tab order: the three edits, then Apply.
  ServerIpAddrEdit = make(WC_EDITW, L"", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                          IDC_SERVERIPADDREDIT);
  ServerPortEdit = make(WC_EDITW, L"", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                        IDC_SERVERPORTEDIT);
  ClientUidEdit = make(WC_EDITW, L"", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                       IDC_CLIENTUIDEDIT);
  ApplyButton =
      make(WC_BUTTONW, L"Apply", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, IDC_APPLYBUTTON);
  LogEnabCheckBox = make(WC_BUTTONW, L"Enable log", WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0,
                         IDC_LOGENABCHECKBOX);
  SSLConnectCheckBox =
      make(WC_BUTTONW, L"SSL connect", WS_TABSTOP | BS_AUTOCHECKBOX, 0, IDC_SSLCONNECTCHECKBOX);
  LogView = std::make_unique<TLogView>(FHandle, IDC_MEMOLOG, FInstance, L"MemoLog");
  MemoLog = LogView->Handle();
  Label1 = make(WC_STATICW, L"Log", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, IDC_LABEL1);
  QueryCountLabel =
      make(WC_STATICW, L"QueryCount=0", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, IDC_QUERYCOUNTLABEL);
  ServerIpAddrLabel = make(WC_STATICW, L"SCADA IP Address / Host",
                           WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, IDC_SERVERIPADDRLABEL);
  ServerPortLabel =
      make(WC_STATICW, L"SCADA Port", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, IDC_SERVERPORTLABEL);
  ClientUidLabel =
      make(WC_STATICW, L"Client UID", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, IDC_CLIENTUIDLABEL);
  StatusLabel = make(WC_STATICW, L"", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, IDC_STATUSLABEL);
}

int TMainFrm::Scale(int Pixels) const {
  return MulDiv(Pixels, static_cast<int>(FDpi), 96);
}

// Font, icons and positions for the given DPI.
void TMainFrm::ApplyDpi(UINT Dpi) {
  FDpi = Dpi;
  HFONT font = CreateFontW(-MulDiv(8, static_cast<int>(Dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                           FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
  for (HWND c = GetWindow(FHandle, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  if (FFont) DeleteObject(FFont);
  FFont = font;

  HICON large = LoadAppIcon(FInstance, Scale(32));
  HICON small = LoadAppIcon(FInstance, Scale(16));
  HICON connected = LoadAppIcon(FInstance, Scale(16), IDI_CONNECTED);
  HICON disconnected = LoadAppIcon(FInstance, Scale(16), IDI_DISCONNECTED);
  SendMessageW(FHandle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large));
  SendMessageW(FHandle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  if (TrayIcon) TrayIcon->SetIcon(FTrayConnected ? connected : disconnected);
  for (HICON old : {FIconLarge, FIconSmall, FIconConnected, FIconDisconnected})
    if (old) DestroyIcon(old);
  FIconLarge = large;
  FIconSmall = small;
  FIconConnected = connected;
  FIconDisconnected = disconnected;

  LayoutControls();
  FormResize();
  InvalidateRect(FHandle, nullptr, TRUE);
}

void TMainFrm::Place(HWND Control, int Left, int Top, int Width, int Height) {
  SetWindowPos(Control, nullptr, Scale(Left), Scale(Top), Scale(Width), Scale(Height),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void TMainFrm::LayoutControls() {
  RECT client;
  GetClientRect(FHandle, &client);
  const int panel = Scale(LogPanelWidth);
  SetWindowPos(Label1, nullptr, 0, 0, panel, Scale(LabelHeight), SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(MemoLog, nullptr, 0, Scale(LabelHeight), panel,
               std::max(0, static_cast<int>(client.bottom) - Scale(LabelHeight)),
               SWP_NOZORDER | SWP_NOACTIVATE);
  // Labels reach to the right edge so that a growing count is never cut off.
  const int labelWidth = std::max(0, static_cast<int>(client.right) - Scale(RightColumnLeft));
  auto placeLabel = [&](HWND label, int top) {
    SetWindowPos(label, nullptr, Scale(RightColumnLeft), Scale(top), labelWidth, Scale(LabelHeight),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  };
  placeLabel(QueryCountLabel, 29);
  placeLabel(ServerIpAddrLabel, 88);
  placeLabel(ServerPortLabel, 136);
  placeLabel(ClientUidLabel, 184);
  Place(LogEnabCheckBox, RightColumnLeft, 56, 97, 17);
  Place(ServerIpAddrEdit, RightColumnLeft, 107, EditWidth, EditHeight);
  Place(ServerPortEdit, RightColumnLeft, 155, EditWidth, EditHeight);
  Place(ClientUidEdit, RightColumnLeft, 203, EditWidth, EditHeight);
  Place(SSLConnectCheckBox, RightColumnLeft, 240, 121, 17);
  Place(ApplyButton, RightColumnLeft, 271, 121, 25);
  SetWindowPos(StatusLabel, nullptr, Scale(RightColumnLeft), Scale(308), labelWidth,
               Scale(6 * LabelHeight), SWP_NOZORDER | SWP_NOACTIVATE);
}

// The edits widen with the window: its outer width minus the log panel minus a margin.
void TMainFrm::FormResize() {
  RECT outer;
  GetWindowRect(FHandle, &outer);
  int width = std::max(
      0, static_cast<int>(outer.right - outer.left) - Scale(LogPanelWidth) - Scale(EditMargin));
  for (HWND edit : {ServerIpAddrEdit, ServerPortEdit, ClientUidEdit}) {
    SetWindowPos(edit, nullptr, 0, 0, width, Scale(EditHeight),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void TMainFrm::InitControls() {
  const TAppSettings& settings = Agent->Settings();
  SetText(ServerIpAddrEdit, settings.Host);
  SetText(ServerPortEdit, IntToText(settings.Port));
  SetText(ClientUidEdit, settings.Uid);
  SendMessageW(SSLConnectCheckBox, BM_SETCHECK, settings.SSLSecure ? BST_CHECKED : BST_UNCHECKED,
               0);
}

void TMainFrm::ApplyButtonClick() {
  std::optional<int32_t> port = ParseIntText(TextOf(ServerPortEdit));
  if (!port) {
    ShowModalBox(L"Port value not valid");
    return;
  }
  TAppSettings settings;
  settings.Host = TextOf(ServerIpAddrEdit);
  settings.Port = *port;
  settings.Uid = TextOf(ClientUidEdit);
  settings.SSLSecure = SendMessageW(SSLConnectCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
  if (FServiceRuns) {
    // Stored for when the window runs the link again; the service keeps it meanwhile.
    Agent->Store(settings);
    ReportServiceRuns();
    return;
  }
  Agent->Apply(settings);
}

void TMainFrm::OnMinimize() {
  ShowWindow(FHandle, SW_HIDE);
}

void TMainFrm::TrayIconClick() {
  if (IsWindowVisible(FHandle)) {
    ShowWindow(FHandle, SW_MINIMIZE);
  } else {
    ShowFromTray();
  }
}

void TMainFrm::ShowFromTray() {
  ShowWindow(FHandle, SW_SHOW);
  ShowWindow(FHandle, SW_RESTORE);
  SetForegroundWindow(FHandle);
}

// Runs on the reader thread: counts, and leaves the label to the window thread. One notice at a
// time is enough, since the handler shows the latest count.
void TMainFrm::IncQuery() {
  ++QueryCount;
  if (!QueryCountPosted.exchange(true)) PostMessageW(FHandle, WM_QUERYCOUNTCHANGED, 0, 0);
}

void TMainFrm::ShowQueryCount() {
  QueryCountPosted = false;
  SetText(QueryCountLabel, u"QueryCount=" + IntToText(QueryCount));
}

// The entry is taken, then its sender is released, then the messages that came meanwhile are let
// through once, unless a modal loop (a menu, a message box, moving the window) runs: that loop
// takes its own input, which a pass here would take from it. The view repaints on a timer of its
// own, so this pass paints at most what that timer asked for, not each entry; without it a thread
// that logs without pause would starve the window's input, the view's refresh and closing, since
// sent messages always go before posted ones. An Apply or Close arriving in the pass runs once the
// pass is over, after the sender was released, so it never waits for a thread that is itself
// waiting for this handler.
LRESULT TMainFrm::WMLogMessage() {
  Logger->TakeQueued();
  if (InSendMessage()) ReplyMessage(1);
  const bool modalLoop = FModalLoops > 0 || FInMenuLoop || FInSizeMove;
  if (!FGate.Busy() && !modalLoop && MessagesWaiting()) ProcessPendingMessages();
  return 1;
}

// Whether anything but sent messages waits in the queue. The sent-message bit is left alone:
// asking for it would clear its "new" state, which the link's waits watch.
bool TMainFrm::MessagesWaiting() {
  return HIWORD(GetQueueStatus(QS_ALLINPUT & ~QS_SENDMESSAGE)) != 0;
}

// One pass over the messages waiting in the queue.
void TMainFrm::ProcessPendingMessages() {
  TCommandGate::TScope pass(FGate);
  constexpr int MaxMessages = 64;
  MSG msg;
  for (int i = 0; i < MaxMessages && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    DispatchQueued(msg);
  }
}

void TMainFrm::DispatchQueued(MSG& Msg) {
  if (FHandle && IsDialogMessageW(FHandle, &Msg)) return;
  TranslateMessage(&Msg);
  DispatchMessageW(&Msg);
}

void TMainFrm::LogEnabCheckBoxClick() {
  Logger->SetLogEnabled(SendMessageW(LogEnabCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED);
}
