// Starts the real tagrelay.exe with a prepared configuration file and drives its window from this
// process: the executable's resources, the first start and the layout, the stored settings and
// Apply's checks, minimising to the tray and the tray menu.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Winsock's header must come before windows.h.
#include "ScadaListener.h"
#include "AppDriver.h"
#include "GuiTestSupport.h"
#include "HangingListener.h"
#include "MainFormIds.h"

#include <commctrl.h>

namespace {

void ExpectRect(HWND window, HWND control, int left, int top, int width, int height) {
  RECT r = ClientRectOf(window, control);
  EXPECT_EQ(r.left, ScaleForScreen(left));
  EXPECT_EQ(r.top, ScaleForScreen(top));
  EXPECT_EQ(r.right - r.left, ScaleForScreen(width));
  EXPECT_EQ(r.bottom - r.top, ScaleForScreen(height));
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

}  // namespace
