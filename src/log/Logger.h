// The system's only log: a bounded list of lines shown in the main window's log view. Any thread
// may add an entry; the entry is formatted and appended on the window thread.
//
// On Windows an entry made on another thread is queued, and the main window is told by the
// synchronous message WM_LOGMESSAGE, which it hands to TakeQueued: the window thread takes every
// queued entry, in the order they were queued. The sender waits until the window thread has taken
// its entry; an entry taken with an earlier sender's message needs no message of its own. A
// sender may queue entries while it holds a lock and wait for them after releasing it (Queue,
// then Deliver), so that the order of the entries follows the lock without the lock being held
// while the window thread is busy. An entry made on the window thread is appended directly.
// The view draws its rows from the log's lines and repaints on a timer of its own, so neither
// the sender nor the window thread waits for painting. Without a window (the native build and
// headless use), entries are appended on the calling thread.
//
// Every entry also goes to the sinks attached (the file log, the Event Log in the service),
// whether logging is on or not.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "LogModel.h"

#ifdef _WIN32
#include <windows.h>
#endif
class TLogger;
class TLogSink;

// The view drawing the log's lines: told which log it shows and when the lines changed.
class TLogObserver {
 public:
  // Window thread. The log shown from now on (null: none any more).
  virtual void SetSource(const TLogger* Source) = 0;
  // Window thread. The lines changed.
  virtual void Changed() = 0;

 protected:
  ~TLogObserver() = default;
};

class TLogger {
 public:
  // A log without a view: entries are appended under a lock on the calling thread.
  TLogger();
#ifdef _WIN32
  // View: the log view, which draws from this log from now on; LogEnabCheckBox: the "Enable log"
  // switch, whose state at creation is taken over; FrmHandle: the main window, receiver of
  // WM_LOGMESSAGE. Created on the window thread; none of the three is owned.
  TLogger(TLogObserver* View, HWND LogEnabCheckBox, HWND FrmHandle);
#endif
  ~TLogger();
  TLogger(const TLogger&) = delete;
  TLogger& operator=(const TLogger&) = delete;

  // Identifies a queued entry; entries queued later have greater tickets. 0: no entry.
  using TTicket = std::uint64_t;

  // Any thread. Makes an entry of kind Cmd; a TransID above 0 is appended to the text. Returns
  // once the window thread has taken the entry, or at once while logging is off. The sinks get
  // the entry first, whether logging is on or not.
  void ToLog(int32_t Cmd, std::u16string_view Text, int32_t TransID = 0) {
    Deliver(Queue(Cmd, Text, TransID));
  }
  // Any thread. The first half of ToLog: makes the entry and queues it for the window thread
  // without waiting (without a window, or on the window thread, it is appended at once). Returns
  // its ticket for Deliver; 0 while logging is off.
  TTicket Queue(int32_t Cmd, std::u16string_view Text, int32_t TransID = 0);
  // Any thread. The second half: returns once the window thread has taken every entry up to
  // Ticket (at once for 0 or for entries already taken).
  void Deliver(TTicket Ticket);

  // Window thread. Appends an entry whether or not logging is on (after the entries queued
  // before it), and hands it to the sinks.
  void MessageToLog(int32_t Cmd, std::u16string_view Text);
  // Window thread, on WM_LOGMESSAGE. Appends the lines of every queued entry, keeps MaxLines
  // lines and tells the view.
  void TakeQueued();
  // Window thread. Empties the log and its view.
  void Clear();

  // The copy of the "Enable log" switch, kept current by the window thread; read on every thread.
  void SetLogEnabled(bool Enabled) {
    LogEnabled = Enabled;
  }
  bool IsLogEnabled() const {
    return LogEnabled;
  }

  // Any thread. Every entry from now on also goes to Sink, until it is removed; not owned.
  void AddSink(TLogSink* Sink);
  void RemoveSink(TLogSink* Sink);

  // The log's lines, from any thread.
  std::vector<std::u16string> Lines() const;
  // The numbers of the lines kept (TLogLines): the first one and how many.
  struct TRange {
    std::uint64_t First;
    std::size_t Count;
  };
  TRange Range() const;
  // The text of the line with the given number; false when that line is not kept.
  bool LineText(std::uint64_t Number, std::u16string& Text) const;

 private:
  struct TEntry {
    int32_t Cmd;
    std::u16string Text;
  };

  TTicket Enqueue(int32_t Cmd, std::u16string Text);
  void ToSinks(int32_t Cmd, const std::u16string& Entry);
  void ViewChanged();

  std::atomic<bool> LogEnabled{false};
  // A leaf lock: held while a sink takes an entry, never around another lock.
  mutable std::mutex SinksLock;
  std::vector<TLogSink*> Sinks;
  std::atomic<bool> HasSinks{false};
  mutable std::mutex LinesLock;
  TLogLines Log;

  // Entries made on other threads, waiting for the window thread.
  std::mutex QueueLock;
  std::vector<TEntry> Queued;
  TTicket LastQueued = 0;         // guarded by QueueLock
  std::atomic<TTicket> Taken{0};  // every entry up to this ticket is in the log

#ifdef _WIN32
  TLogObserver* View = nullptr;
  HWND LogEnabCheckBox = nullptr;
  HWND FrmHandle = nullptr;
  DWORD WindowThread = 0;
#endif
};
