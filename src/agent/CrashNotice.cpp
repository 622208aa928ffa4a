#include "CrashRecord.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <system_error>

void FormatCrashLine(const TCrashFacts& Facts, char* Out, std::size_t Size) {
  std::snprintf(Out, Size,
                "%04u-%02u-%02u %02u:%02u:%02u exception %08" PRIX32 " at %s+0x%" PRIX64,
                unsigned(Facts.Year), unsigned(Facts.Month), unsigned(Facts.Day),
                unsigned(Facts.Hour), unsigned(Facts.Minute), unsigned(Facts.Second), Facts.Code,
                Facts.Module, Facts.Offset);
}

namespace {

std::string FirstLine(const std::filesystem::path& File) {
  std::ifstream In(File, std::ios::binary);
  std::string Line;
  std::getline(In, Line);
  if (!Line.empty() && Line.back() == '\r') Line.pop_back();
  return Line;
}

// Record names and lines are ASCII (the filter writes them so).
std::u16string Widen(const std::string& Text) {
  return std::u16string(Text.begin(), Text.end());
}

}  // namespace

std::u16string TakeCrashNotice(const std::filesystem::path& Folder) {
  const std::filesystem::path Marker = Folder / UnreportedMarker;
  const std::string Name = FirstLine(Marker);
  std::error_code Ignored;
  std::filesystem::remove(Marker, Ignored);
  if (Name.empty()) return u"";
  const std::filesystem::path Record = Folder / (Name + ".txt");
  std::string Line = FirstLine(Record);
  if (Line.empty()) Line = "(the record is missing)";
  return u"The last run ended in a crash: " + Widen(Line) + u"; record " + Record.u16string();
}
