// Starts the real tagrelay.exe with a prepared configuration file and drives its window from this
// process: reads labels and edits, clicks Apply and the log switch, answers message boxes,
// minimises and restores through the tray icon's notifications, and closes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "ScadaListener.h"
#include "AppDriver.h"
#include "HangingListener.h"
#include "MainFormIds.h"

#include <commctrl.h>

namespace {

using namespace std::chrono_literals;

// Closing without a connection is immediate; connected, it may take the router's shutdown and
// one wait of the reconnect thread.
constexpr double IdleCloseSeconds = 3.0;
constexpr double ConnectedCloseSeconds = 8.0;

std::string Section(const std::string& body) {
  return "[tagrelayConfig]\r\n" + body;
}

std::wstring Widen(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

std::string Narrow(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

int ScaleForScreen(int pixels) {
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return MulDiv(pixels, dpi, 96);
}

// A control's rectangle in the client coordinates of its window.
RECT ClientRectOf(HWND window, HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void ExpectRect(HWND window, HWND control, int left, int top, int width, int height) {
  RECT r = ClientRectOf(window, control);
  EXPECT_EQ(r.left, ScaleForScreen(left));
  EXPECT_EQ(r.top, ScaleForScreen(top));
  EXPECT_EQ(r.right - r.left, ScaleForScreen(width));
  EXPECT_EQ(r.bottom - r.top, ScaleForScreen(height));
}

void ExpectClosesWithin(TRunningApp& app, double seconds) {
  HWND window = app.Window();
  double took = app.Close();
  EXPECT_LT(took, seconds);
  EXPECT_FALSE(app.Running());
  EXPECT_EQ(app.ExitCode(), 0u);
  EXPECT_FALSE(TrayIconExists(window, TrayIconId)) << "the tray icon outlived the program";
  std::printf("closed in %.2f s\n", took);
}

// The message box's icon control, or null.
HWND MessageBoxIcon(HWND box) {
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(c)) return c;
  }
  return nullptr;
}

// Shares of strongly red and of yellow pixels in what the screen shows of a control. Icon handles
// belong to their process, so the icon is judged by its picture: the error icon is a red disc,
// the warning icon a yellow triangle, the others blue.
std::pair<double, double> RedAndYellowShares(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return {0, 0};
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof bi.bmiHeader, w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  int red = 0, yellow = 0;
  const auto* px = static_cast<const uint32_t*>(bits);
  for (int i = 0; i < w * h; ++i) {
    int R = (px[i] >> 16) & 0xFF, G = (px[i] >> 8) & 0xFF, B = px[i] & 0xFF;
    if (R > 150 && G < 100 && B < 100) ++red;
    if (R > 180 && G > 150 && B < 100) ++yellow;
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return {red / double(w * h), yellow / double(w * h)};
}

void ExpectErrorIcon(HWND box) {
  HWND icon = MessageBoxIcon(box);
  ASSERT_NE(icon, nullptr) << "no icon";
  // The box may not be painted yet when it is found.
  std::pair<double, double> shares;
  WaitUntil([&] { return (shares = RedAndYellowShares(icon)).first > 0.2; }, 3s);
  EXPECT_GT(shares.first, 0.2) << "not the error icon";
  EXPECT_LT(shares.second, 0.05);
}

// Applies a port text that must be refused: the message box and nothing stored.
void ExpectPortRefused(TRunningApp& app, const std::wstring& portText) {
  SCOPED_TRACE(std::string(portText.begin(), portText.end()));
  std::string before = app.IniBytes();
  app.SetText(app.Control(IDC_SERVERPORTEDIT), portText);
  HWND box = app.Click(app.Control(IDC_APPLYBUTTON));
  ASSERT_NE(box, nullptr) << "no message box";
  EXPECT_EQ(app.Text(GetDlgItem(box, 0xFFFF)), L"Port value not valid");
  EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
  EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
  ExpectErrorIcon(box);
  EXPECT_FALSE(IsWindowEnabled(app.Window())) << "the box is not modal";
  // Centred on the screen.
  RECT r;
  GetWindowRect(box, &r);
  EXPECT_NEAR((r.left + r.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 2);
  EXPECT_NEAR((r.top + r.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 2);
  app.CloseMessageBox(box);
  EXPECT_EQ(app.IniBytes(), before);
}

HWND ApplyAndGetBox(TRunningApp& app) {
  return app.Click(app.Control(IDC_APPLYBUTTON));
}

void EnableLog(TRunningApp& app) {
  HWND checkBox = app.Control(IDC_LOGENABCHECKBOX);
  EXPECT_EQ(app.Click(checkBox), nullptr);
  EXPECT_TRUE(app.Checked(checkBox));
}

TEST(Executable, CarriesIconVersionAndManifest) {
  std::wstring exe = WinePath(TAGRELAY_EXE);
  EXPECT_GE(ExtractIconExW(exe.c_str(), -1, nullptr, nullptr, 0), 1u);

  DWORD ignored = 0;
  std::vector<char> version(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
  ASSERT_FALSE(version.empty());
  ASSERT_TRUE(
      GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(version.size()), version.data()));
  wchar_t* product = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(version.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                             reinterpret_cast<void**>(&product), &length));
  EXPECT_STREQ(product, L"Tagrelay");

  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr);
  const char* text = static_cast<const char*>(LockResource(LoadResource(module, found)));
  std::string manifest(text, SizeofResource(module, found));
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);
  FreeLibrary(module);
}

TEST(MainWindow, FirstStartShowsDefaultsStoresANewIdentifierAndLaysOutTheWindow) {
  TRunningApp app(std::nullopt);
  app.Start();
  HWND w = app.Window();
  ASSERT_NE(w, nullptr);

  wchar_t caption[64] = {};
  GetWindowTextW(w, caption, 64);
  EXPECT_STREQ(caption, L"Tagrelay");
  EXPECT_EQ(app.Text(app.Control(IDC_SERVERIPADDREDIT)), L"localhost");
  EXPECT_EQ(app.Text(app.Control(IDC_SERVERPORTEDIT)), L"0");
  std::wstring uid = app.Text(app.Control(IDC_CLIENTUIDEDIT));
  EXPECT_EQ(uid.size(), 10u);
  auto ini = app.ReadIni();
  EXPECT_EQ(ini.size(), 1u) << app.IniBytes();
  EXPECT_EQ(Widen(ini["uid"]), uid);

  EXPECT_EQ(app.Text(app.Control(IDC_QUERYCOUNTLABEL)), L"QueryCount=0");
  EXPECT_EQ(app.Text(app.Control(IDC_LOGENABCHECKBOX)), L"Enable log");
  EXPECT_FALSE(app.Checked(app.Control(IDC_LOGENABCHECKBOX)));
  EXPECT_FALSE(IsWindowVisible(app.Control(IDC_SSLCONNECTCHECKBOX)));
  EXPECT_EQ(app.Text(app.Control(IDC_SSLCONNECTCHECKBOX)), L"SSL connect");
  EXPECT_TRUE(WaitUntil([&] { return app.LogLines().empty(); }, 5s))
      << "the placeholder text was not cleared: " << Narrow(app.LogText());
  EXPECT_EQ(app.Text(app.Control(IDC_LABEL1)), L"Log");
  EXPECT_EQ(app.Text(app.Control(IDC_SERVERIPADDRLABEL)), L"SCADA IP Address / Host");
  EXPECT_EQ(app.Text(app.Control(IDC_SERVERPORTLABEL)), L"SCADA Port");
  EXPECT_EQ(app.Text(app.Control(IDC_CLIENTUIDLABEL)), L"Client UID");
  EXPECT_EQ(app.Text(app.Control(IDC_APPLYBUTTON)), L"Apply");
  EXPECT_TRUE(TrayIconExists(w, TrayIconId));

  RECT client;
  GetClientRect(w, &client);
  EXPECT_EQ(client.right, ScaleForScreen(725));
  EXPECT_EQ(client.bottom, ScaleForScreen(566));
  RECT outer;
  GetWindowRect(w, &outer);
  int editWidth = (outer.right - outer.left) - ScaleForScreen(385) - ScaleForScreen(50);
  RECT memo = ClientRectOf(w, app.Control(IDC_MEMOLOG));
  EXPECT_EQ(memo.left, 0);
  EXPECT_EQ(memo.top, ScaleForScreen(13));
  EXPECT_EQ(memo.right, ScaleForScreen(385));
  EXPECT_EQ(memo.bottom, client.bottom);
  ExpectRect(w, app.Control(IDC_LOGENABCHECKBOX), 408, 56, 97, 17);
  ExpectRect(w, app.Control(IDC_APPLYBUTTON), 408, 271, 121, 25);
  ExpectRect(w, app.Control(IDC_SSLCONNECTCHECKBOX), 408, 240, 121, 17);
  for (int id : {IDC_SERVERIPADDREDIT, IDC_SERVERPORTEDIT, IDC_CLIENTUIDEDIT}) {
    RECT r = ClientRectOf(w, app.Control(id));
    EXPECT_EQ(r.right - r.left, editWidth) << id;
    EXPECT_EQ(r.left, ScaleForScreen(408)) << id;
  }
  EXPECT_EQ(ClientRectOf(w, app.Control(IDC_CLIENTUIDEDIT)).top, ScaleForScreen(203));

  EXPECT_TRUE(SaveWindowPng(w, WinePath(TAGRELAY_ARTIFACT_DIR "/mainwindow-first-start.png")));

  // The edits follow the window's width.
  SetWindowPos(w, nullptr, 0, 0, (outer.right - outer.left) + 100, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT wider = ClientRectOf(w, app.Control(IDC_SERVERPORTEDIT));
  EXPECT_EQ(wider.right - wider.left, editWidth + 100);

  ExpectClosesWithin(app, IdleCloseSeconds);
}

struct TShownCase {
  std::string Ini;
  std::wstring Host;
  std::wstring Port;
  std::wstring Uid;
  bool SSL;
};

TEST(MainWindow, ShowsThePreparedConfigurationWithoutRewritingIt) {
  const TShownCase cases[] = {
      {Section("KelScadaIp=10.1.2.3\r\nKelScadaPort=0x1F90\r\nuid=abc\r\nIsSSLSecure=2\r\n"),
       L"10.1.2.3", L"8080", L"abc", false},
      {Section("KelScadaPort=$10\r\nuid=x\r\nIsSSLSecure=1\r\n"), L"localhost", L"16", L"x", true},
      {Section("KelScadaPort=99 junk\r\nuid=0012345678\r\nIsSSLSecure=x1\r\n"), L"localhost", L"0",
       L"0012345678", true},
      // Values are read up to 2047 characters.
      {Section("KelScadaIp=" + std::string(3000, 'h') + "\r\nuid=" + std::string(2047, 'u') +
               "v\r\n"),
       std::wstring(2047, L'h'), L"0", std::wstring(2047, L'u'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Ini);
    TRunningApp app(c.Ini);
    app.Start();
    ASSERT_NE(app.Window(), nullptr);
    EXPECT_EQ(app.Text(app.Control(IDC_SERVERIPADDREDIT)), c.Host);
    EXPECT_EQ(app.Text(app.Control(IDC_SERVERPORTEDIT)), c.Port);
    EXPECT_EQ(app.Text(app.Control(IDC_CLIENTUIDEDIT)), c.Uid);
    EXPECT_EQ(app.Checked(app.Control(IDC_SSLCONNECTCHECKBOX)), c.SSL);
    EXPECT_EQ(app.IniBytes(), c.Ini);
    ExpectClosesWithin(app, IdleCloseSeconds);
  }
}

TEST(MainWindow, ApplyRefusesBadPortsAndStoresGoodSettings) {
  const std::string ini =
      Section("KelScadaIp=127.0.0.1\r\nKelScadaPort=1\r\nuid=u1\r\nIsSSLSecure=0\r\n");
  TRunningApp app(ini);
  app.Start();
  ASSERT_NE(app.Window(), nullptr);

  for (const wchar_t* bad : {L"8080 ", L"", L"x", L"80a", L"2147483648", L"- 5", L"0x"}) {
    ExpectPortRefused(app, bad);
  }

  struct TApplyCase {
    const wchar_t* Host;
    const wchar_t* PortText;
    const wchar_t* Uid;
    const char* StoredPort;
  };
  const TApplyCase cases[] = {
      {L"127.0.0.1", L" 8080", L"u2", "8080"},
      {L"127.0.0.1", L"0x1F91", L"u3", "8081"},
      {L"127.0.0.1", L"70000", L"u4", "70000"},
      {L"", L"$10", L"", "16"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.PortText, c.PortText + wcslen(c.PortText)));
    app.SetText(app.Control(IDC_SERVERIPADDREDIT), c.Host);
    app.SetText(app.Control(IDC_SERVERPORTEDIT), c.PortText);
    app.SetText(app.Control(IDC_CLIENTUIDEDIT), c.Uid);
    HWND box = ApplyAndGetBox(app);
    EXPECT_EQ(box, nullptr);
    if (box) app.CloseMessageBox(box);
    auto stored = app.ReadIni();
    EXPECT_EQ(Widen(stored["KelScadaIp"]), c.Host);
    EXPECT_EQ(stored["KelScadaPort"], c.StoredPort);
    EXPECT_EQ(Widen(stored["uid"]), c.Uid);
    EXPECT_EQ(stored["IsSSLSecure"], "0");
    EXPECT_EQ(stored.size(), 4u);
  }
  EXPECT_TRUE(app.Running());
  ExpectClosesWithin(app, IdleCloseSeconds);
}

TEST(MainWindow, UnwritableConfigurationLeavesFieldsEmptyAndApplyShowsTheWriteError) {
  TRunningApp app(std::nullopt, /*IniIsDirectory=*/true);
  app.Start();
  ASSERT_NE(app.Window(), nullptr);
  EXPECT_EQ(app.Text(app.Control(IDC_SERVERIPADDREDIT)), L"");
  EXPECT_EQ(app.Text(app.Control(IDC_SERVERPORTEDIT)), L"");
  EXPECT_EQ(app.Text(app.Control(IDC_CLIENTUIDEDIT)), L"");
  EnableLog(app);

  app.SetText(app.Control(IDC_SERVERIPADDREDIT), L"127.0.0.1");
  app.SetText(app.Control(IDC_SERVERPORTEDIT), L"1");
  app.SetText(app.Control(IDC_CLIENTUIDEDIT), L"w1");
  HWND box = ApplyAndGetBox(app);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(app.Text(GetDlgItem(box, 0xFFFF)), L"Unable to write to " + app.IniPath());
  ExpectErrorIcon(box);
  app.CloseMessageBox(box);
  EXPECT_TRUE(app.Running());
  EXPECT_EQ(app.Text(app.Control(IDC_CLIENTUIDEDIT)), L"w1") << "the window stopped answering";

  // Once the file can be written, Apply stores the settings and starts the link.
  ASSERT_TRUE(RemoveDirectoryW(app.IniPath().c_str()));
  EXPECT_EQ(ApplyAndGetBox(app), nullptr);
  auto stored = app.ReadIni();
  EXPECT_EQ(stored["KelScadaPort"], "1");
  EXPECT_EQ(stored["uid"], "w1");
  EXPECT_TRUE(WaitUntil(
      [&] {
        return app.LogText().find(L"Start and initialize client...") !=
               std::wstring::npos;
      },
      12s))
      << "no connection attempt after Apply";
  ExpectClosesWithin(app, IdleCloseSeconds);
}

TEST(MainWindow, MinimisesToTheTrayAndTheTrayIconTogglesIt) {
  TRunningApp app(Section("uid=t1\r\n"));
  app.Start();
  HWND w = app.Window();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(TrayIconExists(w, TrayIconId));
  auto trayClick = [&] {
    PostMessageW(w, WM_TRAYICON, TrayIconId, WM_LBUTTONDOWN);
    PostMessageW(w, WM_TRAYICON, TrayIconId, WM_LBUTTONUP);
  };
  auto hidden = [&] { return !IsWindowVisible(w); };
  auto shownNormal = [&] { return IsWindowVisible(w) && !IsIconic(w); };

  PostMessageW(w, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(WaitUntil(hidden, 5s)) << "minimising did not hide the window";
  EXPECT_TRUE(TrayIconExists(w, TrayIconId));
  trayClick();
  EXPECT_TRUE(WaitUntil(shownNormal, 5s)) << "a tray click did not restore the window";
  trayClick();
  EXPECT_TRUE(WaitUntil(hidden, 5s)) << "a tray click did not hide the window";
  trayClick();
  EXPECT_TRUE(WaitUntil(shownNormal, 5s));
  ExpectClosesWithin(app, IdleCloseSeconds);
}

int QueryCountShown(TRunningApp& app) {
  std::wstring text = app.Text(app.Control(IDC_QUERYCOUNTLABEL));
  const std::wstring prefix = L"QueryCount=";
  if (text.rfind(prefix, 0) != 0) return -1;
  return std::stoi(text.substr(prefix.size()));
}

TEST(MainWindow, ConnectsLogsCountsReadsAppliesAndClosesInTime) {
  TScadaListener scada;
  TRunningApp app(Section("KelScadaIp=127.0.0.1\r\nKelScadaPort=" + std::to_string(scada.Port()) +
                          "\r\nuid=gui-first\r\nIsSSLSecure=0\r\n"));
  app.Start();
  ASSERT_NE(app.Window(), nullptr);
  EnableLog(app);
  auto logHas = [&](const wchar_t* text) {
    return app.LogText().find(text) != std::wstring::npos;
  };

  EXPECT_TRUE(WaitUntil([&] { return scada.HasLineContaining("gui-first"); }, 15s))
      << "no greeting with the identifier";
  EXPECT_TRUE(WaitUntil([&] { return logHas(L"Done Connect to host"); }, 5s))
      << std::string("log view lacks the entry");
  // With no traffic every read waits 2 s and counts once.
  EXPECT_TRUE(WaitUntil([&] { return QueryCountShown(app) >= 1; }, 8s));

  EXPECT_TRUE(SaveWindowPng(app.Window(), WinePath(TAGRELAY_ARTIFACT_DIR "/mainwindow.png")));

  int countBefore = QueryCountShown(app);
  app.SetText(app.Control(IDC_CLIENTUIDEDIT), L"gui-second");
  EXPECT_EQ(ApplyAndGetBox(app), nullptr);
  EXPECT_EQ(app.ReadIni()["uid"], "gui-second");
  EXPECT_TRUE(WaitUntil([&] { return scada.HasLineContaining("gui-second"); }, 15s))
      << "no reconnection with the new identifier";
  // The first attempt may come before the log was switched on; this one comes after.
  EXPECT_TRUE(WaitUntil([&] { return logHas(L"Start and initialize client..."); }, 5s))
      << Narrow(app.LogText());
  EXPECT_GE(QueryCountShown(app), countBefore) << "the read count was reset";

  ExpectClosesWithin(app, ConnectedCloseSeconds);
}

// Every request is logged by the reader thread, which waits for the window thread to show each
// entry, while the window thread closes and waits for the reader. The reader routes none of the
// requests still buffered once the close has begun, so the close is bounded like any connected
// close, however many requests are waiting.
TEST(MainWindow, ClosingWhileTheReaderLogsAFloodOfRequestsEnds) {
  TScadaListener scada;
  TRunningApp app(Section("KelScadaIp=127.0.0.1\r\nKelScadaPort=" + std::to_string(scada.Port()) +
                          "\r\nuid=gui-flood\r\nIsSSLSecure=0\r\n"));
  app.Start();
  ASSERT_NE(app.Window(), nullptr);
  EnableLog(app);
  ASSERT_TRUE(WaitUntil([&] { return scada.HasLineContaining("gui-flood"); }, 15s));
  std::string requests;
  for (int i = 1; i <= 300; ++i) {
    requests += "{\"cmd\":\"ping\",\"TransID\":" + std::to_string(i) +
                ",\"OPCServerID\":\"{00000000-0000-0000-0000-000000000000}\"}\r\n";
  }
  scada.SendToAll(requests);
  EXPECT_TRUE(
      WaitUntil([&] { return app.LogText().find(L"GetCmd: ping") != std::wstring::npos; }, 5s));
  ExpectClosesWithin(app, ConnectedCloseSeconds);
}

// A connection request that nobody answers keeps the reconnect thread in its connect for the
// system's connect time-out (minutes). Apply with a new port aborts that attempt instead of
// waiting for it, and the next attempt uses the new port; closing during such an attempt ends as
// fast as an idle close. The bounds only catch a wait for the time-out.
TEST(MainWindow, ApplyAndCloseWhileAConnectHangsDoNotWaitForTheNetwork) {
  constexpr auto FirstAttemptUnderWay = 6s;
  THangingListener hanging;
  ASSERT_TRUE(hanging.Full()) << "the accept queue could not be filled";
  TScadaListener scada;
  const std::string ini = Section("KelScadaIp=127.0.0.1\r\nKelScadaPort=" +
                                  std::to_string(hanging.Port()) +
                                  "\r\nuid=gui-hang\r\nIsSSLSecure=0\r\n");
  {
    TRunningApp app(ini);
    app.Start();
    ASSERT_NE(app.Window(), nullptr);
    EnableLog(app);
    // The first attempt starts within one timer wait of the start (perhaps before the log was
    // switched on) and then waits in its connect.
    std::this_thread::sleep_for(FirstAttemptUnderWay);

    app.SetText(app.Control(IDC_SERVERPORTEDIT), Widen(std::to_string(scada.Port())));
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(ApplyAndGetBox(app), nullptr);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("Apply during a hanging connect returned in %.2f s\n", took);
    EXPECT_LT(took, 10.0);
    EXPECT_TRUE(WaitUntil([&] { return scada.HasLineContaining("gui-hang"); }, 20s))
        << "no connection with the new port";
    EXPECT_NE(app.LogText().find(L"Software caused connection abort."), std::wstring::npos)
        << Narrow(app.LogText());
    ExpectClosesWithin(app, ConnectedCloseSeconds);
  }
  TRunningApp app(ini);
  app.Start();
  ASSERT_NE(app.Window(), nullptr);
  EnableLog(app);
  std::this_thread::sleep_for(FirstAttemptUnderWay);
  std::printf("close during a hanging connect: ");
  ExpectClosesWithin(app, ConnectedCloseSeconds);
}

// Apply right after the connection came up, while the agent pauses before starting its reader,
// overtakes that attempt instead of waiting through the pause, the router's start and the
// restart's pause on the connection; the next attempt uses the new port. The bound only catches
// such a wait.
TEST(MainWindow, ApplyRightAfterTheConnectionCameUpDoesNotWaitForItsStart) {
  TScadaListener first;
  TScadaListener second;
  TRunningApp app(Section("KelScadaIp=127.0.0.1\r\nKelScadaPort=" + std::to_string(first.Port()) +
                          "\r\nuid=gui-overtaken\r\nIsSSLSecure=0\r\n"));
  app.Start();
  ASSERT_NE(app.Window(), nullptr);
  app.SetText(app.Control(IDC_SERVERPORTEDIT), Widen(std::to_string(second.Port())));
  ASSERT_TRUE(WaitUntil([&] { return first.Accepted() > 0; }, 20s)) << "no first connection";
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(ApplyAndGetBox(app), nullptr);
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  std::printf("Apply right after the connection came up returned in %.2f s\n", took);
  EXPECT_LT(took, 5.0);
  EXPECT_TRUE(WaitUntil([&] { return second.HasLineContaining("gui-overtaken"); }, 20s))
      << "no connection with the new port";
  ExpectClosesWithin(app, ConnectedCloseSeconds);
}

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return L"<clipboard busy>";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = chars;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

// The program's popup menu window, if one is open.
HWND OpenMenuOf(DWORD processId) {
  for (HWND w = FindWindowExW(nullptr, nullptr, L"#32768", nullptr); w;
       w = FindWindowExW(nullptr, w, L"#32768", nullptr)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == processId && IsWindowVisible(w)) return w;
  }
  return nullptr;
}

// A flood of requests, each logged: the view ends with exactly 300 rows, the newest in sight, and
// its context menu copies them all.
TEST(MainWindow, TheLogViewKeepsTheLast300LinesInSightAndCopiesThem) {
  TScadaListener scada;
  TRunningApp app(Section("KelScadaIp=127.0.0.1\r\nKelScadaPort=" + std::to_string(scada.Port()) +
                          "\r\nuid=gui-view\r\nIsSSLSecure=0\r\n"));
  app.Start();
  ASSERT_NE(app.Window(), nullptr);
  EnableLog(app);
  ASSERT_TRUE(WaitUntil([&] { return scada.HasLineContaining("gui-view"); }, 15s));
  std::string requests;
  for (int i = 1; i <= 400; ++i) {
    requests += "{\"cmd\":\"ping\",\"TransID\":" + std::to_string(i) +
                ",\"OPCServerID\":\"{00000000-0000-0000-0000-000000000000}\"}\r\n";
  }
  scada.SendToAll(requests);
  std::vector<std::wstring> lines;
  EXPECT_TRUE(WaitUntil(
      [&] {
        lines = app.LogLines();
        std::wstring all = app.LogText();
        return all.find(L"TransID = 400") != std::wstring::npos;
      },
      60s))
      << "the last request's entries never showed";
  // Entries after the last request (reads, say) may still come; the view stays bounded.
  lines = app.LogLines();
  EXPECT_EQ(lines.size(), 300u);
  HWND view = app.Control(IDC_MEMOLOG);
  DWORD_PTR top = 0, perPage = 0;
  SendMessageTimeoutW(view, LVM_GETTOPINDEX, 0, 0, SMTO_ABORTIFHUNG, 10000, &top);
  SendMessageTimeoutW(view, LVM_GETCOUNTPERPAGE, 0, 0, SMTO_ABORTIFHUNG, 10000, &perPage);
  EXPECT_GT(perPage, 0u);
  EXPECT_GE(top + perPage, lines.size()) << "the last line is not in sight";
  EXPECT_TRUE(SaveWindowPng(app.Window(), WinePath(TAGRELAY_ARTIFACT_DIR "/log-view-full.png")));

  // The context menu at the view: its second item copies every line.
  RECT r;
  GetWindowRect(view, &r);
  DWORD pid = 0;
  GetWindowThreadProcessId(app.Window(), &pid);
  SetForegroundWindow(app.Window());
  PostMessageW(view, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(view),
               MAKELPARAM(r.left + 40, r.top + 40));
  HWND menu = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (menu = OpenMenuOf(pid)) != nullptr; }, 10s))
      << "no context menu";
  EXPECT_TRUE(SaveWindowPng(menu, WinePath(TAGRELAY_ARTIFACT_DIR "/log-view-menu.png")));
  // One step up from no item lands on the last one, "Copy all".
  PostMessageW(menu, WM_KEYDOWN, VK_UP, 0);
  PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_TRUE(WaitUntil([&] { return OpenMenuOf(pid) == nullptr; }, 10s));
  std::wstring copied;
  EXPECT_TRUE(WaitUntil(
      [&] { return (copied = ClipboardText()).find(L"TransID = 400") != std::wstring::npos; },
      10s));
  // Every line of the view, in order: the copy was made from the view's rows of that moment,
  // which later entries may have moved on from.
  EXPECT_NE(copied.find(lines[299]), std::wstring::npos);
  EXPECT_EQ(std::count(copied.begin(), copied.end(), L'\n'), 299);
  ExpectClosesWithin(app, ConnectedCloseSeconds);
}

// Apply and Close wait for the link's threads while handling the messages that other threads and
// processes send, so the other command can arrive inside them. It must run only after the outer
// one has finished: the program applies, then ends cleanly. The commands are sent right after
// the program's connection is accepted, while its attempt is still finishing (holding the link's
// attempt lock that Apply waits for).
struct TOrderCase {
  const char* Name;
  bool CloseFirst;
};

TEST(MainWindow, ApplyAndCloseArrivingInsideEachOtherRunOneAfterTheOther) {
  const TOrderCase cases[] = {{"Close sent during Apply", false},
                              {"Apply sent during Close", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TScadaListener scada;
    TRunningApp app(Section("KelScadaIp=127.0.0.1\r\nKelScadaPort=" +
                            std::to_string(scada.Port()) + "\r\nuid=gui-order\r\nIsSSLSecure=0\r\n"));
    app.Start();
    ASSERT_NE(app.Window(), nullptr);
    app.SetText(app.Control(IDC_CLIENTUIDEDIT), L"gui-order-2");
    ASSERT_TRUE(WaitUntil([&] { return scada.Accepted() >= 1; }, 15s));
    HWND apply = app.Control(IDC_APPLYBUTTON);
    if (c.CloseFirst) {
      app.SendInBackground(app.Window(), WM_CLOSE);
      Sleep(50);
      app.SendInBackground(apply, BM_CLICK);
    } else {
      app.SendInBackground(apply, BM_CLICK);
      Sleep(50);
      app.SendInBackground(app.Window(), WM_CLOSE);
    }
    EXPECT_TRUE(WaitUntil([&] { return !app.Running(); }, 30s)) << "the program did not end";
    EXPECT_EQ(app.ExitCode(), 0u);
    if (!c.CloseFirst) {
      EXPECT_EQ(app.ReadIni()["uid"], "gui-order-2") << "Apply did not run";
    }
  }
}

// The status line below Apply: the link's state in words with its peer, the servers and the
// counters; after an Apply to a port nobody listens on, the waiting state with the last error.
TEST(MainWindow, TheStatusLineShowsTheLinkStateAndCounters) {
  TScadaListener scada;
  const std::wstring port = std::to_wstring(scada.Port());
  TRunningApp app(Section("KelScadaIp=127.0.0.1\r\nKelScadaPort=" + std::to_string(scada.Port()) +
                          "\r\nuid=gui-status\r\nIsSSLSecure=0\r\n"));
  app.Start();
  ASSERT_NE(app.Window(), nullptr);
  HWND status = app.Control(IDC_STATUSLABEL);
  ASSERT_NE(status, nullptr);
  RECT apply = ClientRectOf(app.Window(), app.Control(IDC_APPLYBUTTON));
  RECT line = ClientRectOf(app.Window(), status);
  EXPECT_EQ(line.left, ScaleForScreen(408));
  EXPECT_GE(line.top, apply.bottom) << "the status line overlaps Apply";

  const std::wstring connected = L"Connected to 127.0.0.1:" + port + L" (plain) since ";
  std::wstring text;
  EXPECT_TRUE(WaitUntil([&] { return (text = app.Text(status)).rfind(connected, 0) == 0; }, 20s))
      << Narrow(text);
  EXPECT_NE(text.find(L"\r\nOPC servers: "), std::wstring::npos) << Narrow(text);
  EXPECT_NE(text.find(L" found, "), std::wstring::npos) << Narrow(text);
  EXPECT_NE(text.find(L"\r\nReconnects since start: 0"), std::wstring::npos) << Narrow(text);

  // A steady stream of requests shows as a request rate.
  std::atomic<bool> sending{true};
  std::thread pinger([&] {
    for (int i = 1; sending && i < 2000; ++i) {
      scada.SendToAll("{\"cmd\":\"ping\",\"TransID\":" + std::to_string(i) +
                      ",\"OPCServerID\":\"{00000000-0000-0000-0000-000000000000}\"}\r\n");
      Sleep(20);
    }
  });
  EXPECT_TRUE(WaitUntil(
      [&] {
        text = app.Text(status);
        return text.find(L"Requests ") != std::wstring::npos &&
               text.find(L"Requests 0/s") == std::wstring::npos;
      },
      10s))
      << Narrow(text);
  EXPECT_TRUE(SaveWindowPng(app.Window(), WinePath(TAGRELAY_ARTIFACT_DIR "/status-line.png")));
  sending = false;
  pinger.join();

  app.SetText(app.Control(IDC_SERVERPORTEDIT), L"1");
  EXPECT_EQ(ApplyAndGetBox(app), nullptr);
  EXPECT_TRUE(WaitUntil(
      [&] {
        text = app.Text(status);
        return text.rfind(L"Waiting to reconnect to 127.0.0.1:1 (plain)\r\nLast error: ", 0) == 0;
      },
      20s))
      << Narrow(text);
  EXPECT_TRUE(
      SaveWindowPng(app.Window(), WinePath(TAGRELAY_ARTIFACT_DIR "/status-line-waiting.png")));
  ExpectClosesWithin(app, ConnectedCloseSeconds);
}

std::optional<std::wstring> RunEntry() {
  wchar_t value[1024] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                   L"Tagrelay", RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(value);
}

// Opens the tray icon's menu, saves its picture when asked, and picks an item with the keys.
void PickFromTrayMenu(TRunningApp& app, const std::vector<WPARAM>& keys, const char* picture) {
  DWORD pid = 0;
  GetWindowThreadProcessId(app.Window(), &pid);
  PostMessageW(app.Window(), WM_TRAYICON, TrayIconId, WM_RBUTTONUP);
  HWND menu = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (menu = OpenMenuOf(pid)) != nullptr; }, 10s)) << "no menu";
  if (picture) {
    EXPECT_TRUE(SaveWindowPng(menu, WinePath(picture)));
  }
  for (WPARAM key : keys) PostMessageW(menu, WM_KEYDOWN, key, 0);
  EXPECT_TRUE(WaitUntil([&] { return OpenMenuOf(pid) == nullptr; }, 10s)) << "the menu stayed";
}

// The tray menu: "Start with Windows" writes and removes the current user's Run entry, "Exit"
// closes the program.
TEST(MainWindow, TheTrayMenuSwitchesStartWithWindowsAndExits) {
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                     L"Tagrelay");
  TRunningApp app(Section("uid=tray\r\n"));
  app.Start();
  ASSERT_NE(app.Window(), nullptr);
  const std::vector<WPARAM> autoStart = {VK_DOWN, VK_DOWN, VK_RETURN};
  PickFromTrayMenu(app, autoStart, TAGRELAY_ARTIFACT_DIR "/tray-menu.png");
  std::optional<std::wstring> entry;
  EXPECT_TRUE(WaitUntil([&] { return (entry = RunEntry()).has_value(); }, 5s));
  if (entry) {
    EXPECT_EQ(*entry, L"\"" + app.Folder() + L"\\tagrelay.exe\"");
  }
  PickFromTrayMenu(app, autoStart, TAGRELAY_ARTIFACT_DIR "/tray-menu-checked.png");
  EXPECT_TRUE(WaitUntil([&] { return !RunEntry().has_value(); }, 5s)) << "the entry stayed";

  PickFromTrayMenu(app, {VK_UP, VK_RETURN}, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return !app.Running(); }, 20s)) << "Exit did not end the program";
  EXPECT_EQ(app.ExitCode(), 0u);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                     L"Tagrelay");
}

std::string FileBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(file, buf, sizeof buf, &n, nullptr) && n > 0) bytes.append(buf, n);
  CloseHandle(file);
  return bytes;
}

// "LogFile" beside the executable: every entry is written there with the log switch off; a name
// that cannot be written is told once in the view, and the program runs on.
TEST(MainWindow, TheLogFileTakesEveryEntryAndAnUnwritableOneIsToldOnce) {
  {
    TRunningApp app(Section("KelScadaIp=127.0.0.1\r\nKelScadaPort=1\r\nuid=file\r\n"
                            "LogFile=agent.log\r\n"));
    app.Start();
    ASSERT_NE(app.Window(), nullptr);
    const std::wstring path = app.Folder() + L"\\agent.log";
    EXPECT_TRUE(WaitUntil(
        [&] { return FileBytes(path).find("Start and initialize client...") != std::string::npos; },
        15s))
        << FileBytes(path);
    EXPECT_FALSE(app.Checked(app.Control(IDC_LOGENABCHECKBOX)));
    ExpectClosesWithin(app, IdleCloseSeconds);
    const std::string bytes = FileBytes(path);
    EXPECT_NE(bytes.find(" Done Read ini\r\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find(" **********ERROR***********\r\n"), std::string::npos) << bytes;
  }
  {
    TRunningApp app(Section("uid=file2\r\nLogFile=taken\r\n"));
    CreateDirectoryW((app.Folder() + L"\\taken").c_str(), nullptr);
    app.Start();
    ASSERT_NE(app.Window(), nullptr);
    EXPECT_TRUE(WaitUntil(
        [&] {
          return app.LogText().find(L"Cannot write the log file " + app.Folder() + L"\\taken") !=
                 std::wstring::npos;
        },
        15s))
        << Narrow(app.LogText());
    Sleep(1000);
    const std::wstring text = app.LogText();
    EXPECT_EQ(text.find(L"Cannot write"), text.rfind(L"Cannot write")) << "told more than once";
    ExpectClosesWithin(app, IdleCloseSeconds);
  }
}

}  // namespace
