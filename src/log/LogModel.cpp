#include "LogModel.h"

namespace {

constexpr char16_t ErrorHeader[] = u"**********ERROR***********";
constexpr char16_t ErrorFooter[] = u"**************************";
constexpr char16_t LineBreak[] = u"\r\n";

void AppendParts(std::vector<std::u16string>& Lines, std::u16string_view Text) {
  std::size_t Start = 0;
  for (std::size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] != u'\r' && Text[I] != u'\n') continue;
    Lines.emplace_back(Text.substr(Start, I - Start));
    if (Text[I] == u'\r' && I + 1 < Text.size() && Text[I + 1] == u'\n') ++I;
    Start = I + 1;
  }
  Lines.emplace_back(Text.substr(Start));
}

}  // namespace

std::u16string LogEntryText(std::u16string_view Text, int32_t TransID) {
  std::u16string Entry(Text);
  if (TransID > 0) {
    Entry += u" TransID = ";
    for (char C : std::to_string(TransID)) Entry.push_back(static_cast<char16_t>(C));
  }
  return Entry;
}

std::vector<std::u16string> LogEntryLines(int32_t Cmd, std::u16string_view Text) {
  std::vector<std::u16string> Lines;
  switch (Cmd) {
    case LogDone:
      AppendParts(Lines, std::u16string(u"Done ") + std::u16string(Text));
      Lines.emplace_back();
      break;
    case LogInfo:
      AppendParts(Lines, Text);
      break;
    case LogError:
      Lines.emplace_back(ErrorHeader);
      AppendParts(Lines, Text);
      Lines.emplace_back(ErrorFooter);
      break;
    default:
      break;
  }
  return Lines;
}

std::u16string TLogLines::Append(const std::vector<std::u16string>& NewLines) {
  std::u16string Added;
  for (const auto& Line : NewLines) {
    if (!Lines.empty()) Added += LineBreak;
    Added += Line;
    Lines.push_back(Line);
  }
  return Added;
}

std::size_t TLogLines::Trim() {
  std::size_t Removed = 0;
  while (Lines.size() > MaxLines) {
    Removed += Lines.front().size() + 2;
    Lines.pop_front();
    ++Dropped;
  }
  return Removed;
}

std::u16string TLogLines::Text() const {
  std::u16string All;
  for (std::size_t I = 0; I < Lines.size(); ++I) {
    if (I > 0) All += LineBreak;
    All += Lines[I];
  }
  return All;
}
