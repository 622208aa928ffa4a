// The log's delivery to the window thread on Windows: a hidden window with an EDIT control as the
// log view, its own thread and message loop, and entries sent from several threads.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Logger.h"

namespace {

using namespace std::chrono_literals;
using TLines = std::vector<std::u16string>;

const std::u16string ErrorHeader = u"**********ERROR***********";
const std::u16string ErrorFooter = u"**************************";
constexpr auto ThreadBound = std::chrono::seconds(30);

constexpr UINT WM_RUN = WM_APP + 1;  // LPARAM: a std::function<void()>* to run on the window thread

// A hidden main window with a log view and an "Enable log" check box, run by a thread of its own
// that owns the logger, as the program's window thread does.
class TTestLogWindow {
 public:
  explicit TTestLogWindow(bool Checked) {
    std::promise<void> Ready;
    Thread = std::thread([this, Checked, &Ready] {
      bool Created = Create(Checked);
      Ready.set_value();
      if (!Created) return;
      MSG Msg;
      while (GetMessageW(&Msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&Msg);
        DispatchMessageW(&Msg);
      }
      Logger.reset();
    });
    Ready.get_future().wait();
    if (!Frm) {
      // Top-level windows need a display (the WINE fixture brings up Xvfb).
      Thread.join();
      throw std::runtime_error("the test window could not be created");
    }
  }

  ~TTestLogWindow() {
    PostMessageW(Frm, WM_CLOSE, 0, 0);
    Thread.join();
  }

  TLogger& Log() { return *Logger; }
  HWND Memo() const { return MemoView; }

  // Runs Action on the window thread and waits for it.
  void Run(std::function<void()> Action) {
    SendMessageW(Frm, WM_RUN, 0, reinterpret_cast<LPARAM>(&Action));
  }

  // The log view's text, split at its line breaks.
  TLines ViewLines() {
    std::vector<wchar_t> Text(static_cast<std::size_t>(GetWindowTextLengthW(MemoView)) + 1);
    SendMessageW(MemoView, WM_GETTEXT, Text.size(), reinterpret_cast<LPARAM>(Text.data()));
    std::u16string All(reinterpret_cast<const char16_t*>(Text.data()));
    TLines Lines;
    std::size_t Start = 0;
    for (std::size_t Break; (Break = All.find(u"\r\n", Start)) != std::u16string::npos;
         Start = Break + 2)
      Lines.push_back(All.substr(Start, Break - Start));
    Lines.push_back(All.substr(Start));
    return Lines;
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    auto* Self = reinterpret_cast<TTestLogWindow*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
    switch (Msg) {
      case WM_LOGMESSAGE:
        // What the main window's WMLogMessage does.
        if (LParam)
          Self->Logger->MessageToLog(static_cast<int32_t>(WParam),
                                     reinterpret_cast<const char16_t*>(LParam));
        return 1;
      case WM_RUN:
        (*reinterpret_cast<std::function<void()>*>(LParam))();
        return 0;
      case WM_CLOSE:
        DestroyWindow(Window);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(Window, Msg, WParam, LParam);
  }

  bool Create(bool Checked) {
    WNDCLASSW Class{};
    Class.lpfnWndProc = WindowProc;
    Class.hInstance = GetModuleHandleW(nullptr);
    Class.lpszClassName = L"TagrelayLogTestWindow";
    RegisterClassW(&Class);
    Frm = CreateWindowExW(0, Class.lpszClassName, L"log test", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400,
                          nullptr, nullptr, Class.hInstance, nullptr);
    if (!Frm) return false;
    SetWindowLongPtrW(Frm, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    // No wrapping, so that the control's own line count is the log's.
    MemoView = CreateWindowExW(0, L"EDIT", L"MemoLog",
                               WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                                   ES_AUTOHSCROLL | ES_READONLY,
                               0, 0, 380, 300, Frm, nullptr, Class.hInstance, nullptr);
    SendMessageW(MemoView, EM_SETLIMITTEXT, 0, 0);
    CheckBox = CreateWindowExW(0, L"BUTTON", L"Enable log", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX,
                               400, 50, 100, 20, Frm, nullptr, Class.hInstance, nullptr);
    SendMessageW(CheckBox, BM_SETCHECK, Checked ? BST_CHECKED : BST_UNCHECKED, 0);
    Logger = std::make_unique<TLogger>(MemoView, CheckBox, Frm);
    return true;
  }

  std::thread Thread;
  HWND Frm = nullptr;
  HWND MemoView = nullptr;
  HWND CheckBox = nullptr;
  std::unique_ptr<TLogger> Logger;
};

std::u16string Decimal(int Value) {
  std::u16string Digits;
  for (char C : std::to_string(Value)) Digits.push_back(static_cast<char16_t>(C));
  return Digits;
}

TEST(LogWindowTest, TakesOverTheSwitchAndClearsThePlaceholder) {
  TTestLogWindow Off(false);
  EXPECT_FALSE(Off.Log().IsLogEnabled());
  TTestLogWindow On(true);
  EXPECT_TRUE(On.Log().IsLogEnabled());
  EXPECT_EQ(On.ViewLines(), TLines{u"MemoLog"});
  On.Run([&] { On.Log().Clear(); });
  EXPECT_EQ(On.ViewLines(), TLines{u""});
}

TEST(LogWindowTest, EntriesOfTheWindowThreadItselfAreAppendedDirectly) {
  TTestLogWindow Window(true);
  Window.Run([&] {
    Window.Log().Clear();
    Window.Log().ToLog(LogDone, u"Read ini", 0);
    Window.Log().ToLog(3, u"nothing", 0);
    Window.Log().ToLog(LogError, u"Socket Error # 10061\r\nConnection refused.", 7);
  });
  const TLines Expected = {u"Done Read ini",
                           u"",
                           ErrorHeader,
                           u"Socket Error # 10061",
                           u"Connection refused. TransID = 7",
                           ErrorFooter};
  EXPECT_EQ(Window.ViewLines(), Expected);
  EXPECT_EQ(Window.Log().Lines(), Expected);
}

TEST(LogWindowTest, EntriesFromSeveralThreadsStayWholeInOrderAndBounded) {
  TTestLogWindow Window(true);
  Window.Run([&] { Window.Log().Clear(); });
  constexpr int Threads = 4;
  constexpr int Entries = 150;
  std::vector<std::thread> Loggers;
  for (int T = 0; T < Threads; ++T) {
    Loggers.emplace_back([&Window, T] {
      for (int I = 0; I < Entries; ++I)
        Window.Log().ToLog(LogError, u"thread " + Decimal(T) + u" entry " + Decimal(I), 0);
    });
  }
  for (auto& Thread : Loggers) Thread.join();

  TLines View = Window.ViewLines();
  EXPECT_EQ(View, Window.Log().Lines());
  // 600 entries of three lines: exactly 300 lines remain, 100 whole entries.
  ASSERT_EQ(View.size(), 300u);
  EXPECT_EQ(SendMessageW(Window.Memo(), EM_GETLINECOUNT, 0, 0), 300);
  std::map<std::u16string, int> Last;
  for (std::size_t I = 0; I < View.size(); I += 3) {
    EXPECT_EQ(View[I], ErrorHeader);
    EXPECT_EQ(View[I + 2], ErrorFooter);
    std::u16string Text = View[I + 1];
    std::size_t Split = Text.find(u" entry ");
    ASSERT_NE(Split, std::u16string::npos) << I;
    std::u16string Owner = Text.substr(0, Split);
    int Index = std::stoi(std::string(Text.begin() + Split + 7, Text.end()));
    if (Last.count(Owner)) {
      EXPECT_GT(Index, Last[Owner]) << "order of one thread";
    }
    Last[Owner] = Index;
  }
  // The view is scrolled to its end.
  EXPECT_GT(SendMessageW(Window.Memo(), EM_GETFIRSTVISIBLELINE, 0, 0), 250);
}

TEST(LogWindowTest, ASenderWaitsForTheWindowThreadUnlessLoggingIsOff) {
  TTestLogWindow Window(false);
  Window.Run([&] { Window.Log().Clear(); });
  // Keep the window thread busy until Release is set.
  std::promise<void> Entered, Release;
  std::shared_future<void> Released = Release.get_future().share();
  std::thread Blocker([&] {
    Window.Run([&Entered, Released] {
      Entered.set_value();
      Released.wait();
    });
  });
  Entered.get_future().wait();

  // Logging off: returns at once although the window thread is busy.
  auto Dropped = std::async(std::launch::async, [&] { Window.Log().ToLog(LogInfo, u"dropped"); });
  EXPECT_EQ(Dropped.wait_for(ThreadBound), std::future_status::ready);

  Window.Log().SetLogEnabled(true);
  auto Shown = std::async(std::launch::async, [&] { Window.Log().ToLog(LogInfo, u"shown"); });
  // It cannot return while the window thread is busy.
  EXPECT_EQ(Shown.wait_for(200ms), std::future_status::timeout);
  Release.set_value();
  EXPECT_EQ(Shown.wait_for(ThreadBound), std::future_status::ready);
  Blocker.join();
  EXPECT_EQ(Window.ViewLines(), TLines{u"shown"});
}

}  // namespace
