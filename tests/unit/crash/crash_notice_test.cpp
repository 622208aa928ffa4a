// The record's one line, and the next start naming the record of the last crash exactly once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cstdio>
#include <string>
#include <vector>

#include "CrashRecord.h"

namespace {

namespace fs = std::filesystem;

std::string Narrow(const std::u16string& Text) {
  return std::string(Text.begin(), Text.end());
}

void WriteFile(const fs::path& Path, const std::string& Bytes) {
  std::ofstream(Path, std::ios::binary) << Bytes;
}

class CrashNoticeTest : public ::testing::Test {
 protected:
  CrashNoticeTest() {
    Folder = fs::temp_directory_path() /
             ("crash-notice-" +
              std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(Folder);
    fs::create_directories(Folder);
  }
  ~CrashNoticeTest() override { fs::remove_all(Folder); }

  fs::path Folder;
};

TEST(CrashLineTest, NamesTimeCodeModuleAndOffset) {
  char Line[128];
  FormatCrashLine({2026, 1, 2, 3, 4, 5, 0xC0000005u, "opcsim.dll", 0x1A2B}, Line, sizeof Line);
  EXPECT_STREQ(Line, "2026-01-02 03:04:05 exception C0000005 at opcsim.dll+0x1A2B");
  // A buffer too small still ends the text.
  char Short[12];
  FormatCrashLine({2026, 1, 2, 3, 4, 5, 0xC0000005u, "opcsim.dll", 0x1A2B}, Short, sizeof Short);
  EXPECT_STREQ(Short, "2026-01-02 ");
}

TEST_F(CrashNoticeTest, TheUnreportedRecordIsNamedOnceWithItsLine) {
  WriteFile(Folder / "crash-20260102-030405-77.txt",
            "2026-01-02 03:04:05 exception C0000005 at opcsim.dll+0x1A2B\r\n");
  WriteFile(Folder / "crash-20260102-030405-77.dmp", "MDMP");
  WriteFile(Folder / UnreportedMarker, "crash-20260102-030405-77\r\n");

  std::string Notice = Narrow(TakeCrashNotice(Folder));
  EXPECT_EQ(Notice.rfind("The last run ended in a crash: 2026-01-02 03:04:05 exception C0000005 "
                         "at opcsim.dll+0x1A2B; record ",
                         0),
            0u)
      << Notice;
  EXPECT_NE(Notice.find("crash-20260102-030405-77.txt"), std::string::npos) << Notice;
  EXPECT_EQ(TakeCrashNotice(Folder), u"");                           // named once
  EXPECT_TRUE(fs::exists(Folder / "crash-20260102-030405-77.dmp"));  // the record stays
}

TEST_F(CrashNoticeTest, NoMarkerOrNoFolderNamesNothingAndAMissingRecordIsSaid) {
  WriteFile(Folder / "crash-20260102-030405-77.txt", "old\r\n");
  EXPECT_EQ(TakeCrashNotice(Folder), u"");  // reported by an earlier start
  EXPECT_EQ(TakeCrashNotice(Folder / "absent"), u"");

  WriteFile(Folder / UnreportedMarker, "crash-20260102-030405-78\r\n");
  std::string Notice = Narrow(TakeCrashNotice(Folder));
  EXPECT_NE(Notice.find("(the record is missing)"), std::string::npos) << Notice;

  // A marker naming anything but a record of ours is not followed to another folder.
  const fs::path Records = Folder / "records";
  fs::create_directories(Records);
  WriteFile(Folder / "crash-secret.txt", "secret line\r\n");
  for (const char* Name : {"../crash-secret", "..\\crash-secret", "crash-1/../../crash-secret"}) {
    WriteFile(Records / UnreportedMarker, std::string(Name) + "\r\n");
    Notice = Narrow(TakeCrashNotice(Records));
    EXPECT_EQ(Notice, "The last run ended in a crash: (the record is missing)") << Name;
  }
}

// Records pile up no further than the newest ten (by the time in their names, whatever order the
// files were made in): an older record loses both its files, a record's lone file counts as the
// record, and other files in the folder stay.
TEST_F(CrashNoticeTest, PruningKeepsTheNewestTenRecordsAndNothingElseIsTouched) {
  std::vector<std::string> Names;
  for (int Day = 13; Day >= 1; --Day) {
    char Name[64];
    std::snprintf(Name, sizeof Name, "crash-202612%02d-101500-42", Day);
    Names.insert(Names.begin(), Name);
    WriteFile(Folder / (std::string(Name) + ".txt"), "line\r\n");
    if (Day != 2) WriteFile(Folder / (std::string(Name) + ".dmp"), "MDMP");
  }
  WriteFile(Folder / UnreportedMarker, Names.back() + "\r\n");
  WriteFile(Folder / "notes.txt", "kept");

  PruneCrashRecords(Folder, KeptRecords);
  for (std::size_t I = 0; I < Names.size(); ++I) {
    const bool Kept = I >= Names.size() - KeptRecords;
    EXPECT_EQ(fs::exists(Folder / (Names[I] + ".txt")), Kept) << Names[I];
    EXPECT_EQ(fs::exists(Folder / (Names[I] + ".dmp")), Kept && Names[I] != Names[1]) << Names[I];
  }
  EXPECT_TRUE(fs::exists(Folder / UnreportedMarker));
  EXPECT_TRUE(fs::exists(Folder / "notes.txt"));

  PruneCrashRecords(Folder / "missing", KeptRecords);  // no folder: nothing to do
}

}  // namespace
