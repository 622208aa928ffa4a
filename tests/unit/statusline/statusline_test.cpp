// The status line: the link's state in words and the counters as rates between two readings.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "StatusLine.h"

namespace {

using namespace std::chrono_literals;
using TState = TCommunicate::TLinkState;

std::string Ascii(const std::u16string& Text) {
  return std::string(Text.begin(), Text.end());
}

std::string FirstLine(const std::u16string& Text) {
  std::string All = Ascii(Text);
  return All.substr(0, All.find("\r\n"));
}

TEST(StatusLineTest, NamesTheLinkStateWithItsPeerAndLastError) {
  struct TCase {
    TState State;
    bool TLS;
    const char* Starts;
    const char* Tip;
  };
  const TCase Cases[] = {
      {TState::Idle, false, "Not connected", "Tagrelay - not connected"},
      {TState::Connecting, false, "Connecting to 10.0.0.5:4000 (plain)",
       "Tagrelay - connecting to 10.0.0.5:4000 (plain)"},
      {TState::Connected, true, "Connected to 10.0.0.5:4000 (TLS) since ",
       "Tagrelay - connected to 10.0.0.5:4000 (TLS)"},
      {TState::Waiting, true, "Waiting to reconnect to 10.0.0.5:4000 (TLS)",
       "Tagrelay - waiting to reconnect to 10.0.0.5:4000 (TLS)"},
  };
  for (const auto& Case : Cases) {
    TCommunicate::TLinkStatus Status;
    Status.State = Case.State;
    Status.Host = u"10.0.0.5";
    Status.Port = 4000;
    Status.TLS = Case.TLS;
    Status.Since = std::chrono::system_clock::now();
    Status.LastError = u"Socket Error # 10061\r\nConnection refused.";
    TStatusLine Line;
    std::string Text = Ascii(Line.Update(Status, {}, std::chrono::steady_clock::now()));
    EXPECT_EQ(Text.rfind(Case.Starts, 0), 0u) << Text;
    EXPECT_EQ(Ascii(TStatusLine::TrayTip(Status)), Case.Tip);
    // The error shows only while waiting, on one line.
    EXPECT_EQ(Text.find("Last error: Socket Error # 10061 Connection refused.\r\n") !=
                  std::string::npos,
              Case.State == TState::Waiting)
        << Text;
  }
  TCommunicate::TLinkStatus Connected;
  Connected.State = TState::Connected;
  Connected.Host = u"h";
  Connected.Port = 1;
  std::string Since = FirstLine(TStatusLine::StateText(Connected));
  // hh:mm:ss at the end.
  ASSERT_GE(Since.size(), 8u);
  std::string Clock = Since.substr(Since.size() - 8);
  EXPECT_TRUE(Clock[2] == ':' && Clock[5] == ':') << Since;
}

TEST(StatusLineTest, CountersBecomeRatesBetweenReadings) {
  TCommunicate::TLinkStatus Status;
  TStatusLine Line;
  const auto Start = std::chrono::steady_clock::now();
  TCounterReading First;
  First.Requests = 100;
  First.Written = 150;
  First.Pushes = 40;
  First.PushedValues = 800;
  std::string Text = Ascii(Line.Update(Status, First, Start));
  // No rate before a second reading.
  EXPECT_NE(Text.find("Requests 0/s, answers 0/s\r\nPushes 0/s, 0 values/s"), std::string::npos)
      << Text;

  TCounterReading Second = First;
  Second.Requests += 50;      // 200/s over 250 ms
  Second.Written += 30;       // of which 20 pushes: 10 answers, 40/s
  Second.Pushes += 20;        // 80/s
  Second.PushedValues += 400; // 1600/s
  Second.Reconnects = 3;
  Second.ServersFound = 4;
  Second.ServersConnected = 2;
  Text = Ascii(Line.Update(Status, Second, Start + 250ms));
  EXPECT_NE(Text.find("OPC servers: 4 found, 2 connected\r\n"), std::string::npos) << Text;
  EXPECT_NE(Text.find("Requests 200/s, answers 40/s\r\n"), std::string::npos) << Text;
  EXPECT_NE(Text.find("Pushes 80/s, 1600 values/s\r\n"), std::string::npos) << Text;
  EXPECT_NE(Text.find("Reconnects since start: 3"), std::string::npos) << Text;
}

}  // namespace
