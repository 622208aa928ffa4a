// The final teardown on the window thread while other threads wait for that thread to take
// their log entries (the reader's failure, a stopping worker): it must take them, not hang.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "CommTestSupport.h"
#include "Communicate.h"
#include "FakeRouter.h"
#include "ThreadWait.h"

#include <windows.h>

namespace {

// A hidden main window created on the calling thread, which becomes the window thread: entries
// from other threads reach it only while it handles messages.
class TWindowLog {
 public:
  TWindowLog() {
    WNDCLASSW Class{};
    Class.lpfnWndProc = WindowProc;
    Class.hInstance = GetModuleHandleW(nullptr);
    Class.lpszClassName = L"TagrelayCommTestWindow";
    RegisterClassW(&Class);
    Frm = CreateWindowExW(0, Class.lpszClassName, L"comm test", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400,
                          nullptr, nullptr, Class.hInstance, nullptr);
    SetWindowLongPtrW(Frm, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    // No view: the test reads the log's lines.
    Logger = std::make_unique<TLogger>(nullptr, nullptr, Frm);
    Logger->SetLogEnabled(true);
  }
  ~TWindowLog() { DestroyWindow(Frm); }

  TLogger& Log() { return *Logger; }

  // Handles messages until Condition holds, at most TimeoutMs.
  bool PumpUntil(const std::function<bool()>& Condition, int TimeoutMs) {
    return WaitUntil(
        [&] {
          MSG Msg;
          while (PeekMessageW(&Msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&Msg);
          return Condition();
        },
        TimeoutMs);
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    auto* Self = reinterpret_cast<TWindowLog*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
    if (Msg == WM_LOGMESSAGE && Self) {
      Self->Logger->TakeQueued();
      return 1;
    }
    return DefWindowProcW(Window, Msg, WParam, LParam);
  }

  HWND Frm = nullptr;
  std::unique_ptr<TLogger> Logger;
};

// A link manager over a fake router, logging to Window, set to connect to Server.
std::unique_ptr<TCommunicate> MakeComm(TWindowLog& Window, std::shared_ptr<TFakeRouterState> State,
                                       TLoopbackServer& Server) {
  auto Comm = std::make_unique<TCommunicate>(std::make_unique<TFakeRouter>(State));
  Comm->SetHostProp(u"127.0.0.1");
  Comm->SetPortProp(Server.Port());
  Comm->SetUidProp(u"uid-1");
  Comm->SetLoggerProp(&Window.Log());
  Comm->SetSSLSecureProp(false);
  Comm->SetIncQueryProp([] {});
  return Comm;
}

// Handles the window's messages until the link is up; Peer is the server's side of it.
bool AwaitConnection(TWindowLog& Window, TLoopbackServer& Server,
                     std::unique_ptr<TServerPeer>& Peer) {
  return Window.PumpUntil([&] { return (Peer = Server.Accept(0)) != nullptr; }, 12000) &&
         Window.PumpUntil(
             [&] { return LineCount(LogLines(Window.Log()), "Done Connect to host") == 1; }, 8000);
}

TEST(CommunicateWindowTest, CloseOnTheWindowThreadTakesTheEntriesOfThreadsItWaitsFor) {
  TWindowLog Window;
  auto State = std::make_shared<TFakeRouterState>();
  State->WorkerLogsOnDestroy = true;
  TLoopbackServer Server;
  auto Comm = MakeComm(Window, State, Server);
  std::unique_ptr<TServerPeer> Peer;
  ASSERT_TRUE(AwaitConnection(Window, Server, Peer));

  // The server drops the link while this thread handles no messages: the reader's error entry
  // waits for this thread, and so does the reader.
  Peer->Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  auto Begin = std::chrono::steady_clock::now();
  Comm->Disconnect(false);
  Comm.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - Begin, std::chrono::seconds(8));

  auto Lines = LogLines(Window.Log());
  EXPECT_EQ(LineCount(Lines, "Connection Closed Gracefully."), 1);
  EXPECT_EQ(LineCount(Lines, "worker stopped"), 1);
  EXPECT_EQ(State->Snapshot().back(), "destroyed");
}

// The window thread's waits take the entries of the thread they wait for as they come, while
// that thread holds the lock the window thread wants and while it runs to its end; a wait that
// missed one would hang.
TEST(ThreadWaitTest, LockAndJoinOnTheWindowThreadTakeTheEntriesOfTheThreadWaitedFor) {
  TWindowLog Window;
  constexpr int Entries = 100;
  TPumpingLock Lock;
  TWaitEvent Locked;
  TWaitEvent Finished;
  std::thread Logging([&] {
    {
      std::lock_guard<TPumpingLock> Guard(Lock);
      Locked.Set();
      for (int I = 0; I < Entries; ++I) Window.Log().ToLog(LogInfo, u"under the lock", 0);
    }
    for (int I = 0; I < Entries; ++I) Window.Log().ToLog(LogInfo, u"before the end", 0);
    Finished.Set();
  });
  EXPECT_TRUE(Locked.WaitFor(5000));
  Lock.LockPumping();
  Lock.unlock();
  JoinPumping(Logging, Finished);

  auto Lines = LogLines(Window.Log());
  EXPECT_EQ(LineCount(Lines, "under the lock"), Entries);
  EXPECT_EQ(LineCount(Lines, "before the end"), Entries);
}

// A restart on the window thread (Apply) pauses after closing the connection; a thread that logs
// during that pause has its entry taken by the pause instead of waiting until it is over.
TEST(CommunicateWindowTest, TheRestartPauseOnTheWindowThreadTakesEntriesOfOtherThreads) {
  TWindowLog Window;
  auto State = std::make_shared<TFakeRouterState>();
  TLoopbackServer Server;
  auto Comm = MakeComm(Window, State, Server);
  std::unique_ptr<TServerPeer> Peer;
  ASSERT_TRUE(AwaitConnection(Window, Server, Peer));

  TWaitEvent Restarting;
  std::atomic<bool> Taken{false};
  std::thread Logging([&] {
    Restarting.WaitFor(10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // inside the pause
    Window.Log().ToLog(LogInfo, u"logged during the pause", 0);
    Taken = true;
  });
  Restarting.Set();
  Comm->Disconnect(true);
  EXPECT_TRUE(Taken) << "the entry waited for the pause to end";
  Window.PumpUntil([&] { return Taken.load(); }, 10000);
  Logging.join();
  Comm.reset();
  EXPECT_EQ(LineCount(LogLines(Window.Log()), "logged during the pause"), 1);
}

}  // namespace
