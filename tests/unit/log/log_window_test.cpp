// The log's delivery to the window thread on Windows and its view: a hidden window with the log
// view, its own thread and message loop, and entries sent from several threads.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "LogView.h"
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
      View.reset();
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
  TLogView& LogView() { return *View; }
  HWND Memo() const { return MemoView; }

  // Runs Action on the window thread and waits for it.
  void Run(std::function<void()> Action) {
    SendMessageW(Frm, WM_RUN, 0, reinterpret_cast<LPARAM>(&Action));
  }

  // The rows of the log view, as the list reports them.
  TLines Rows() {
    TLines Lines;
    int Count = static_cast<int>(SendMessageW(MemoView, LVM_GETITEMCOUNT, 0, 0));
    for (int Row = 0; Row < Count; ++Row) {
      wchar_t Text[4096] = {};
      LVITEMW Item{};
      Item.iSubItem = 0;
      Item.pszText = Text;
      Item.cchTextMax = 4096;
      SendMessageW(MemoView, LVM_GETITEMTEXTW, Row, reinterpret_cast<LPARAM>(&Item));
      Lines.emplace_back(reinterpret_cast<const char16_t*>(Text));
    }
    return Lines;
  }

  // The rows once the view has caught up with the log (it refreshes on a timer); the rows as
  // they are if it does not within the bound.
  TLines ViewLines() {
    auto End = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    TLines Lines;
    while ((Lines = Rows()) != Logger->Lines() && std::chrono::steady_clock::now() < End)
      std::this_thread::sleep_for(20ms);
    return Lines;
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    auto* Self = reinterpret_cast<TTestLogWindow*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
    switch (Msg) {
      case WM_LOGMESSAGE:
        // What the main window's WMLogMessage does.
        Self->Logger->TakeQueued();
        return 1;
      case WM_NOTIFY: {
        LRESULT Result = 0;
        if (Self->View->Notify(reinterpret_cast<const NMHDR*>(LParam), Result)) return Result;
        break;
      }
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
    View = std::make_unique<TLogView>(Frm, 1, Class.hInstance, L"MemoLog");
    MemoView = View->Handle();
    SetWindowPos(MemoView, nullptr, 0, 0, 380, 300, SWP_NOZORDER);
    CheckBox = CreateWindowExW(0, L"BUTTON", L"Enable log", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX,
                               400, 50, 100, 20, Frm, nullptr, Class.hInstance, nullptr);
    SendMessageW(CheckBox, BM_SETCHECK, Checked ? BST_CHECKED : BST_UNCHECKED, 0);
    Logger = std::make_unique<TLogger>(View.get(), CheckBox, Frm);
    return true;
  }

  std::thread Thread;
  HWND Frm = nullptr;
  HWND MemoView = nullptr;
  HWND CheckBox = nullptr;
  std::unique_ptr<TLogView> View;
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
  EXPECT_EQ(On.Rows(), TLines{u"MemoLog"});
  On.Run([&] { On.Log().Clear(); });
  EXPECT_EQ(On.ViewLines(), TLines{});
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
  EXPECT_EQ(SendMessageW(Window.Memo(), LVM_GETITEMCOUNT, 0, 0), 300);
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
  // The last line is in sight.
  LRESULT Top = SendMessageW(Window.Memo(), LVM_GETTOPINDEX, 0, 0);
  LRESULT PerPage = SendMessageW(Window.Memo(), LVM_GETCOUNTPERPAGE, 0, 0);
  EXPECT_GT(PerPage, 0);
  EXPECT_LE(Top, 299);
  EXPECT_GE(Top + PerPage, 300);
}

// Keeps the window thread busy inside a task of its own from construction until Free.
class TBusyWindowThread {
 public:
  explicit TBusyWindowThread(TTestLogWindow& Window) {
    std::shared_future<void> Released = Release.get_future().share();
    Blocker = std::thread([this, &Window, Released] {
      Window.Run([this, Released] {
        Entered.set_value();
        Released.wait();
      });
    });
    Entered.get_future().wait();
  }
  TBusyWindowThread(const TBusyWindowThread&) = delete;
  TBusyWindowThread& operator=(const TBusyWindowThread&) = delete;
  ~TBusyWindowThread() { Free(); }

  void Free() {
    if (!Blocker.joinable()) return;
    Release.set_value();
    Blocker.join();
  }

 private:
  std::promise<void> Entered, Release;
  std::thread Blocker;
};

TEST(LogWindowTest, ASenderWaitsForTheWindowThreadUnlessLoggingIsOff) {
  TTestLogWindow Window(false);
  Window.Run([&] { Window.Log().Clear(); });
  TBusyWindowThread Busy(Window);

  // Logging off: returns at once although the window thread is busy.
  auto Dropped = std::async(std::launch::async, [&] { Window.Log().ToLog(LogInfo, u"dropped"); });
  EXPECT_EQ(Dropped.wait_for(ThreadBound), std::future_status::ready);

  Window.Log().SetLogEnabled(true);
  auto Shown = std::async(std::launch::async, [&] { Window.Log().ToLog(LogInfo, u"shown"); });
  // It cannot return while the window thread is busy.
  EXPECT_EQ(Shown.wait_for(200ms), std::future_status::timeout);
  Busy.Free();
  EXPECT_EQ(Shown.wait_for(ThreadBound), std::future_status::ready);
  EXPECT_EQ(Window.ViewLines(), TLines{u"shown"});
}

// A sender queues its entries under its own lock and waits for them after releasing it, so a
// busy window thread holds up no other holder of that lock; the entries keep the lock's order,
// and the window thread takes all that are waiting at once.
TEST(LogWindowTest, EntriesQueuedUnderALockKeepItsOrderAndAreWaitedForOutsideIt) {
  TTestLogWindow Window(true);
  Window.Run([&] { Window.Log().Clear(); });
  TBusyWindowThread Busy(Window);

  constexpr int Senders = 8;
  std::mutex Writer;
  std::vector<std::promise<void>> Queued(Senders);
  std::vector<std::future<void>> Delivered;
  for (int S = 0; S < Senders; ++S) {
    Delivered.push_back(std::async(std::launch::async, [&, S] {
      TLogger::TTicket Ticket = 0;
      {
        std::lock_guard<std::mutex> Guard(Writer);
        Ticket = Window.Log().Queue(LogInfo, u"line " + Decimal(S) + u" a");
        Ticket = std::max(Ticket, Window.Log().Queue(LogInfo, u"line " + Decimal(S) + u" b"));
      }
      Queued[S].set_value();
      Window.Log().Deliver(Ticket);
    }));
  }
  // Every sender got the lock and queued while the window thread was busy, and none returned.
  for (auto& Done : Queued)
    EXPECT_EQ(Done.get_future().wait_for(ThreadBound), std::future_status::ready);
  for (auto& Done : Delivered) EXPECT_EQ(Done.wait_for(100ms), std::future_status::timeout);
  Busy.Free();
  for (auto& Done : Delivered) EXPECT_EQ(Done.wait_for(ThreadBound), std::future_status::ready);

  TLines Lines = Window.ViewLines();
  ASSERT_EQ(Lines.size(), 2u * Senders);
  for (std::size_t I = 0; I < Lines.size(); I += 2) {
    const std::u16string Sender = Lines[I].substr(0, Lines[I].size() - 2);
    EXPECT_EQ(Lines[I], Sender + u" a");
    EXPECT_EQ(Lines[I + 1], Sender + u" b") << "the pair queued under one lock stays together";
  }
}

std::u16string ClipboardText(HWND Owner) {
  std::u16string Text;
  if (!OpenClipboard(Owner)) return u"<clipboard busy>";
  if (HANDLE Data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* Chars = static_cast<const char16_t*>(GlobalLock(Data))) {
      Text = Chars;
      GlobalUnlock(Data);
    }
  }
  CloseClipboard();
  return Text;
}

void Select(HWND View, int Row, bool Selected) {
  LVITEMW Item{};
  Item.stateMask = LVIS_SELECTED;
  Item.state = Selected ? LVIS_SELECTED : 0;
  SendMessageW(View, LVM_SETITEMSTATE, static_cast<WPARAM>(Row), reinterpret_cast<LPARAM>(&Item));
}

std::vector<int> SelectedRows(HWND View) {
  std::vector<int> Rows;
  for (int Row = -1;
       (Row = static_cast<int>(SendMessageW(View, LVM_GETNEXTITEM, static_cast<WPARAM>(Row),
                                            LVNI_SELECTED))) != -1;)
    Rows.push_back(Row);
  return Rows;
}

// Copying (Ctrl+C sends the view a WM_COPY; the context menu's commands reach it as WM_COMMAND),
// and a selection that stays on its lines while old lines drop off the top.
TEST(LogWindowTest, CopiesSelectedOrAllLinesAndTheSelectionFollowsItsLines) {
  TTestLogWindow Window(true);
  HWND View = Window.Memo();
  Window.Run([&] { Window.Log().Clear(); });
  Window.Log().ToLog(LogInfo, u"first");
  Window.Log().ToLog(LogError, u"second", 9);
  ASSERT_EQ(Window.ViewLines(),
            (TLines{u"first", ErrorHeader, u"second TransID = 9", ErrorFooter}));

  Select(View, 0, true);
  Select(View, 2, true);
  SendMessageW(View, WM_COPY, 0, 0);
  EXPECT_EQ(ClipboardText(View), u"first\r\nsecond TransID = 9");
  SendMessageW(View, WM_COMMAND, TLogView::CopyAllCommand, 0);
  EXPECT_EQ(ClipboardText(View),
            u"first\r\n" + ErrorHeader + u"\r\nsecond TransID = 9\r\n" + ErrorFooter);

  // Fill the log to its bound, then push 10 more lines out: "second" moves up 10 rows.
  for (int I = 0; I < 296; ++I) Window.Log().ToLog(LogInfo, u"fill " + Decimal(I));
  ASSERT_EQ(Window.ViewLines().size(), 300u);
  Select(View, 0, false);
  EXPECT_EQ(SelectedRows(View), std::vector<int>{2});
  Select(View, 12, true);
  for (int I = 0; I < 10; ++I) Window.Log().ToLog(LogInfo, u"more " + Decimal(I));
  TLines Rows = Window.ViewLines();
  ASSERT_EQ(Rows.size(), 300u);
  EXPECT_EQ(Rows.back(), u"more 9");
  // Row 2 ("second") dropped off; the line in row 12 is now in row 2.
  EXPECT_EQ(SelectedRows(View), std::vector<int>{2});
  EXPECT_EQ(Rows[2], u"fill 8");
  Window.Run([&] { EXPECT_EQ(Window.LogView().SelectedText(), u"fill 8"); });
}

}  // namespace
