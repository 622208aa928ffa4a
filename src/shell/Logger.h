// The system's only log: a bounded list of lines shown in the main window's log view. Any thread
// may add an entry; the entry is formatted and appended on the window thread.
//
// On Windows an entry made on another thread travels to the window thread as the synchronous
// message WM_LOGMESSAGE, which the main window hands to MessageToLog; the sender waits until the
// window thread has taken its entry. An entry made on the window thread is appended directly.
// The view draws its rows from the log's lines and repaints on a timer of its own, so neither
// the sender nor the window thread waits for painting. Without a window (the native build and
// headless use), entries are appended on the calling thread.
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
class TLogView;
#endif
class TLogFile;

class TLogger {
 public:
  // A log without a view: entries are appended under a lock on the calling thread.
  TLogger();
#ifdef _WIN32
  // View: the log view, which draws from this log from now on; LogEnabCheckBox: the "Enable log"
  // switch, whose state at creation is taken over; FrmHandle: the main window, receiver of
  // WM_LOGMESSAGE. Created on the window thread; none of the three is owned.
  TLogger(TLogView* View, HWND LogEnabCheckBox, HWND FrmHandle);
#endif
  ~TLogger();
  TLogger(const TLogger&) = delete;
  TLogger& operator=(const TLogger&) = delete;

  // Any thread. Makes an entry of kind Cmd; a TransID above 0 is appended to the text. Returns
  // once the window thread has taken the entry, or at once while logging is off. With a log file
  // the entry is also queued for the file, whether logging is on or not.
  void ToLog(int32_t Cmd, std::u16string_view Text, int32_t TransID = 0);

  // Window thread. Appends the lines of one entry, keeps MaxLines lines and tells the view.
  void MessageToLog(int32_t Cmd, std::u16string_view Text);
  // Window thread. Empties the log and its view.
  void Clear();

  // The copy of the "Enable log" switch, kept current by the window thread; read on every thread.
  void SetLogEnabled(bool Enabled) {
    LogEnabled = Enabled;
  }
  bool IsLogEnabled() const {
    return LogEnabled;
  }

  // The file every entry is also written to (null: none). Set and cleared while no other thread
  // logs; not owned.
  void SetFileProp(TLogFile* File) { LogFile = File; }

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
  void ViewChanged();

  std::atomic<bool> LogEnabled{false};
  std::atomic<TLogFile*> LogFile{nullptr};
  mutable std::mutex LinesLock;
  TLogLines Log;

#ifdef _WIN32
  TLogView* View = nullptr;
  HWND LogEnabCheckBox = nullptr;
  HWND FrmHandle = nullptr;
  DWORD WindowThread = 0;
#endif
};
