// The log's content, independent of any window: the lines an entry adds, and the bounded list of
// lines the log view shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// Entry kinds, the Cmd of an entry.
inline constexpr int32_t LogDone = 0;
inline constexpr int32_t LogInfo = 1;
inline constexpr int32_t LogError = 2;

// The log message sent to the main window: entries are waiting for the window thread (TLogger);
// WPARAM and LPARAM are 0 (WM_USER + 1).
inline constexpr unsigned WM_LOGMESSAGE = 0x401;

// The text of an entry: Text, followed by " TransID = " and TransID when TransID is above 0.
std::u16string LogEntryText(std::u16string_view Text, int32_t TransID);

// The lines an entry of kind Cmd adds to the log. A text with line breaks (CR LF, LF or CR)
// gives one line per part. Unknown kinds add nothing.
std::vector<std::u16string> LogEntryLines(int32_t Cmd, std::u16string_view Text);

// The log view's lines, at most MaxLines of them; older lines are dropped from the top. Every line
// gets a number when it is appended, counted from 0 and never reused (Clear drops the lines but
// not their numbers), so a view can tell by how many lines its rows have moved. Append and Trim
// also report their change in characters of the lines joined by CR LF.
class TLogLines {
 public:
  static constexpr std::size_t MaxLines = 300;

  // Appends the lines; returns the characters to add at the end of the view's text.
  std::u16string Append(const std::vector<std::u16string>& NewLines);
  // Drops lines from the top while more than MaxLines remain; returns the number of characters to
  // delete at the start of the view's text.
  std::size_t Trim();
  void Clear() {
    Dropped += Lines.size();
    Lines.clear();
  }

  const std::deque<std::u16string>& Items() const { return Lines; }
  std::size_t Count() const { return Lines.size(); }
  // The lines joined by CR LF.
  std::u16string Text() const;

  // The number of the first line kept (of the next line to come while none is kept).
  std::uint64_t First() const { return Dropped; }
  // The line with the given number, or null when it is not kept.
  const std::u16string* Line(std::uint64_t Number) const {
    if (Number < Dropped || Number - Dropped >= Lines.size()) return nullptr;
    return &Lines[static_cast<std::size_t>(Number - Dropped)];
  }

 private:
  std::deque<std::u16string> Lines;
  std::uint64_t Dropped = 0;
};
