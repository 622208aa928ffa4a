#include "EventLogSink.h"

#include "LogModel.h"

namespace {

// The rows of asterisks (one with "ERROR" in it) that frame an error in the log view.
bool IsFrame(const std::u16string& Line) {
  return Line.size() >= 2 && Line.front() == u'*' && Line.back() == u'*';
}

std::u16string Count(std::size_t N) {
  const std::string Digits = std::to_string(N);
  return std::u16string(Digits.begin(), Digits.end());
}

}  // namespace

std::u16string EventText(const std::vector<std::u16string>& Lines) {
  std::u16string Text;
  for (const std::u16string& Line : Lines) {
    if (Line.empty() || IsFrame(Line)) continue;
    if (!Text.empty()) Text += u"\r\n";
    Text += Line;
  }
  return Text;
}

void TEventLogSink::Write(int32_t Cmd, const std::vector<std::u16string>& Lines) {
  if (Cmd != LogError) return;
  std::u16string Text = EventText(Lines);
  std::lock_guard<std::mutex> Guard(FLock);
  if (Text == FLastError) {
    ++FRepeats;
    return;
  }
  FLastError = Text;
  if (FRepeats > 0)
    Text += u"\r\n(The error before this one was repeated " + Count(FRepeats) + u" more times.)";
  FRepeats = 0;
  FWriter.Report(TEventKind::Error, Text);
}

void TEventLogSink::Note(const std::u16string& Text) {
  std::lock_guard<std::mutex> Guard(FLock);
  FLastError.clear();
  FRepeats = 0;
  FWriter.Report(TEventKind::Information, Text);
}
