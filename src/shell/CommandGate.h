// Runs the window's long commands (Apply, Close) one at a time. The waits inside them keep
// handling messages that other threads and processes send to the window, so a click on Apply or
// a WM_CLOSE can arrive while one of them runs; such a command is queued and runs once the outer
// one has finished, in the order of arrival. Once the window is gone, queued commands are
// dropped. Window thread only.
#pragma once

#include <deque>
#include <functional>
#include <utility>

class TCommandGate {
 public:
  enum class TCommand { Apply, Close };
  using TRunner = std::function<void(TCommand)>;

  explicit TCommandGate(TRunner Run) : FRun(std::move(Run)) {}

  // Marks a span in which arriving commands are queued: a running command, or a pass over the
  // pending messages that must not start one.
  class TScope {
   public:
    explicit TScope(TCommandGate& Gate) : FGate(Gate) { ++FGate.FDepth; }
    ~TScope() { --FGate.FDepth; }
    TScope(const TScope&) = delete;
    TScope& operator=(const TScope&) = delete;

   private:
    TCommandGate& FGate;
  };

  bool Busy() const { return FDepth > 0; }

  // Runs Command now, or queues it while another one is under way.
  void Request(TCommand Command) {
    if (FStopped) return;
    if (Busy()) {
      FQueued.push_back(Command);
      return;
    }
    TScope Running(*this);
    FRun(Command);
  }

  // Runs the next queued command, if any and if nothing runs; false when there was none to run.
  // A command that throws is gone from the queue all the same.
  bool RunNext() {
    if (Busy() || FStopped || FQueued.empty()) return false;
    TCommand Next = FQueued.front();
    FQueued.pop_front();
    TScope Running(*this);
    FRun(Next);
    return true;
  }

  // The window is gone: nothing queued or requested from now on runs.
  void Stop() {
    FStopped = true;
    FQueued.clear();
  }

 private:
  TRunner FRun;
  std::deque<TCommand> FQueued;
  int FDepth = 0;
  bool FStopped = false;
};
