// Starts the real tagrelay.exe against a SCADA peer of the test's own and drives its window while
// the link works: connecting, logging and counting, Apply and Close while connects hang, right
// after a connection came up and inside each other, and the status line.
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

int QueryCountShown(TRunningApp& app) {
  std::wstring text = app.Text(app.Control(IDC_QUERYCOUNTLABEL));
  const std::wstring prefix = L"QueryCount=";
  if (text.rfind(prefix, 0) != 0) return -1;
  return std::stoi(text.substr(prefix.size()));
}

TEST(MainWindow, ConnectsLogsCountsReadsAppliesAndClosesInTime) {
  TScadaListener scada;
  TRunningApp app(LoopbackSettings(scada.Port(), "gui-first"));
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
  TRunningApp app(LoopbackSettings(scada.Port(), "gui-flood"));
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
  const std::string ini = LoopbackSettings(hanging.Port(), "gui-hang");
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
  TRunningApp app(LoopbackSettings(first.Port(), "gui-overtaken"));
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
    TRunningApp app(LoopbackSettings(scada.Port(), "gui-order"));
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
  TRunningApp app(LoopbackSettings(scada.Port(), "gui-status"));
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

// At log-off or shutdown the session's end closes the agent as Close does, before the answer to
// WM_ENDSESSION (after which the system may end the process at any moment): the window is gone,
// the log file is written and closed, and the process ends by itself.
TEST(MainWindow, TheSessionsEndClosesTheAgentBeforeItIsAnswered) {
  TScadaListener scada;
  TRunningApp app(LoopbackSettings(scada.Port(), "gui-endsession", "LogFile=agent.log\r\n"));
  app.Start();
  ASSERT_NE(app.Window(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return scada.HasLineContaining("gui-endsession"); }, 15s));
  const std::wstring log = app.Folder() + L"\\agent.log";
  ASSERT_TRUE(WaitUntil(
      [&] { return FileBytes(log).find("Done Connect to host") != std::string::npos; }, 10s));

  DWORD_PTR answer = 0;
  ASSERT_TRUE(SendMessageTimeoutW(app.Window(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                                  SMTO_NORMAL, 30000, &answer));
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
  ASSERT_TRUE(SendMessageTimeoutW(app.Window(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                  30000, &answer));
  EXPECT_FALSE(IsWindow(app.Window())) << "answered before closing";
  EXPECT_TRUE(WaitUntil([&] { return !app.Running(); }, 20s)) << "the process did not end";
  EXPECT_EQ(app.ExitCode(), 0u);
}

}  // namespace
