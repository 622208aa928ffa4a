#include "CrashRecord.h"

#include <cinttypes>
#include <cstdio>
#include <algorithm>
#include <fstream>
#include <set>
#include <system_error>
#include <vector>

void FormatCrashLine(const TCrashFacts& Facts, char* Out, std::size_t Size) {
  std::snprintf(Out, Size, "%04u-%02u-%02u %02u:%02u:%02u exception %08" PRIX32 " at %s+0x%" PRIX64,
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

// The filter names its records crash-<date>-<time>-<process>. Anything else in the marker is not
// taken as a file name, so the marker cannot send the reading to another folder.
bool IsRecordName(const std::string& Name) {
  constexpr char Lead[] = "crash-";
  if (Name.rfind(Lead, 0) != 0 || Name.size() > 64) return false;
  return std::all_of(Name.begin() + (sizeof Lead - 1), Name.end(),
                     [](char C) { return (C >= '0' && C <= '9') || C == '-'; });
}

// Record names and lines are ASCII (the filter writes them so).
std::u16string Widen(const std::string& Text) {
  return std::u16string(Text.begin(), Text.end());
}

}  // namespace

// Record names start with the time of the crash, so their order is the order of the crashes.
void PruneCrashRecords(const std::filesystem::path& Folder, std::size_t Keep) {
  std::error_code Error;
  std::set<std::string> Records;
  for (std::filesystem::directory_iterator It(Folder, Error), End; !Error && It != End;
       It.increment(Error)) {
    const std::filesystem::path Name = It->path().filename();
    const std::string Ext = Name.extension().string();
    if (Name.string().rfind("crash-", 0) == 0 && (Ext == ".txt" || Ext == ".dmp"))
      Records.insert(Name.stem().string());
  }
  if (Records.size() <= Keep) return;
  std::vector<std::string> Old(Records.begin(), Records.end());
  Old.resize(Old.size() - Keep);
  for (const std::string& Record : Old) {
    std::filesystem::remove(Folder / (Record + ".txt"), Error);
    std::filesystem::remove(Folder / (Record + ".dmp"), Error);
  }
}

std::u16string TakeCrashNotice(const std::filesystem::path& Folder) {
  const std::filesystem::path Marker = Folder / UnreportedMarker;
  const std::string Name = FirstLine(Marker);
  std::error_code Ignored;
  std::filesystem::remove(Marker, Ignored);
  if (Name.empty()) return u"";
  if (!IsRecordName(Name)) return u"The last run ended in a crash: (the record is missing)";
  const std::filesystem::path Record = Folder / (Name + ".txt");
  std::string Line = FirstLine(Record);
  if (Line.empty()) Line = "(the record is missing)";
  return u"The last run ended in a crash: " + Widen(Line) + u"; record " + Record.u16string();
}
