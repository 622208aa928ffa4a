// Starts the real tagrelay.exe and drives its log: the view's last 300 lines and its copy menu,
// and the log file beside the executable.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
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

// A flood of requests, each logged: the view ends with exactly 300 rows, the newest in sight, and
// its context menu copies them all.
TEST(MainWindow, TheLogViewKeepsTheLast300LinesInSightAndCopiesThem) {
  TScadaListener scada;
  TRunningApp app(LoopbackSettings(scada.Port(), "gui-view"));
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

// "LogFile" beside the executable: every entry is written there with the log switch off; a name
// that cannot be written is told once in the view, and the program runs on.
TEST(MainWindow, TheLogFileTakesEveryEntryAndAnUnwritableOneIsToldOnce) {
  {
    TRunningApp app(
        Section("KelScadaIp=127.0.0.1\r\nKelScadaPort=1\r\nuid=file\r\n"
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

// Batches of requests sent one after another from a thread of its own, each request logged, until
// the object ends.
class TSteadyRequests {
 public:
  explicit TSteadyRequests(TScadaListener& Scada)
      : FThread([this, &Scada] {
          for (int id = 1; !FStop;) {
            std::string batch;
            for (int i = 0; i < 20; ++i, ++id) {
              batch += "{\"cmd\":\"ping\",\"TransID\":" + std::to_string(id) +
                       ",\"OPCServerID\":\"{00000000-0000-0000-0000-000000000000}\"}\r\n";
            }
            Scada.SendToAll(batch);
            Sleep(2);
          }
        }) {}
  ~TSteadyRequests() {
    FStop = true;
    FThread.join();
  }
  TSteadyRequests(const TSteadyRequests&) = delete;
  TSteadyRequests& operator=(const TSteadyRequests&) = delete;

 private:
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// A menu runs a modal loop of its own, which reads its keys from the window thread's queue. While
// entries arrive without pause, the log's hand-over runs inside that loop again and again: the
// one Escape key sent to the menu must still reach the menu and close it, every time, for the tray
// menu and the log view's context menu alike. A few messages queued ahead of the key keep it
// waiting in the queue while entries are handed over; a hundred rounds each, since a key is only
// at risk when an entry comes while it waits.
TEST(MainWindow, MenusKeepTheirKeysWhileTheLogIsBusy) {
  TScadaListener scada;
  TRunningApp app(LoopbackSettings(scada.Port(), "gui-busy"));
  app.Start();
  ASSERT_NE(app.Window(), nullptr);
  EnableLog(app);
  ASSERT_TRUE(WaitUntil([&] { return scada.HasLineContaining("gui-busy"); }, 15s));
  DWORD pid = 0;
  GetWindowThreadProcessId(app.Window(), &pid);
  const HWND view = app.Control(IDC_MEMOLOG);
  struct TMenu {
    const char* Name;
    std::function<void()> Open;
  };
  const TMenu Menus[] = {
      {"tray menu", [&] { PostMessageW(app.Window(), WM_TRAYICON, TrayIconId, WM_RBUTTONUP); }},
      // From the keyboard (Shift+F10), so at the view wherever the mouse is.
      {"log view's menu",
       [&] { PostMessageW(view, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(view), -1); }},
  };
  {
    TSteadyRequests requests(scada);
    ASSERT_TRUE(
        WaitUntil([&] { return app.LogText().find(L"TransID = 1") != std::wstring::npos; }, 15s))
        << "the requests are not logged";
    for (const TMenu& Menu : Menus) {
      for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(std::string(Menu.Name) + ", round " + std::to_string(round));
        Menu.Open();
        HWND menu = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (menu = OpenMenuOf(pid)) != nullptr; }, 10s))
            << "no menu";
        for (int i = 0; i < 32; ++i) PostMessageW(menu, WM_NULL, 0, 0);
        PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        const bool closed = WaitUntil([&] { return OpenMenuOf(pid) == nullptr; }, 10s);
        EXPECT_TRUE(closed) << "the menu never saw its Escape key";
        if (!closed) {
          // Closes the menu for the next one and the program's close below.
          WaitUntil(
              [&] {
                PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
                return OpenMenuOf(pid) == nullptr;
              },
              10s);
          break;
        }
      }
    }
  }
  ExpectClosesWithin(app, ConnectedCloseSeconds);
}

}  // namespace
