// The window's long commands: a command arriving while another runs (as the window's waits hand
// it in) runs after it, never inside it.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "CommandGate.h"

namespace {

using TCommand = TCommandGate::TCommand;

// Records "begin X" and "end X" for each command; Inner, if set, arrives while the first command
// of its kind runs, as a message sent during its wait would.
struct TRecorder {
  std::vector<std::string> Trace;
  std::vector<TCommand> Inner;
  TCommandGate Gate{[this](TCommand C) { Run(C); }};
  bool Stopped = false;

  static std::string Name(TCommand C) { return C == TCommand::Apply ? "Apply" : "Close"; }

  void Run(TCommand C) {
    Trace.push_back("begin " + Name(C));
    std::vector<TCommand> Arriving;
    Arriving.swap(Inner);
    for (TCommand A : Arriving) Gate.Request(A);
    if (C == TCommand::Close && Stopped) Gate.Stop();  // the window is destroyed by Close
    Trace.push_back("end " + Name(C));
  }

  // What the window does after each message: run what was queued meanwhile.
  void Drain() {
    while (Gate.RunNext()) {
    }
  }
};

TEST(CommandGateTest, CommandsArrivingDuringACommandRunAfterItInOrder) {
  struct TCase {
    std::vector<TCommand> Inner;
    bool CloseDestroysWindow;
    std::vector<std::string> Expected;
  };
  const TCase Cases[] = {
      // Close during Apply: Apply ends, then the close runs.
      {{TCommand::Close}, false, {"begin Apply", "end Apply", "begin Close", "end Close"}},
      // Apply twice during Apply: each runs whole, one after the other.
      {{TCommand::Apply, TCommand::Apply},
       false,
       {"begin Apply", "end Apply", "begin Apply", "end Apply", "begin Apply", "end Apply"}},
  };
  for (const auto& Case : Cases) {
    TRecorder R;
    R.Stopped = Case.CloseDestroysWindow;
    R.Inner = Case.Inner;
    R.Gate.Request(TCommand::Apply);
    R.Drain();
    EXPECT_EQ(R.Trace, Case.Expected);
    EXPECT_FALSE(R.Gate.Busy());
  }
}

TEST(CommandGateTest, ApplyArrivingDuringTheCloseThatEndsTheWindowNeverRuns) {
  TRecorder R;
  R.Stopped = true;
  R.Inner = {TCommand::Apply};
  R.Gate.Request(TCommand::Close);
  R.Drain();
  EXPECT_EQ(R.Trace, (std::vector<std::string>{"begin Close", "end Close"}));
  R.Gate.Request(TCommand::Apply);
  EXPECT_EQ(R.Trace.size(), 2u);
}

TEST(CommandGateTest, AScopeQueuesCommandsAndAThrowingCommandLeavesTheGateUsable) {
  std::vector<TCommand> Ran;
  bool Throw = true;
  TCommandGate Gate([&](TCommand C) {
    Ran.push_back(C);
    if (Throw) throw std::runtime_error("write failed");
  });
  {
    TCommandGate::TScope Pass(Gate);  // a pass over pending messages
    Gate.Request(TCommand::Apply);
    Gate.Request(TCommand::Close);
    EXPECT_FALSE(Gate.RunNext());
    EXPECT_TRUE(Ran.empty());
  }
  EXPECT_THROW(Gate.RunNext(), std::runtime_error);
  EXPECT_FALSE(Gate.Busy());
  Throw = false;
  EXPECT_TRUE(Gate.RunNext());
  EXPECT_FALSE(Gate.RunNext());
  EXPECT_EQ(Ran, (std::vector<TCommand>{TCommand::Apply, TCommand::Close}));
}

}  // namespace
