// The record's one line, and the next start naming the record of the last crash exactly once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

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
             ("crash-notice-" + std::string(::testing::UnitTest::GetInstance()
                                                ->current_test_info()
                                                ->name()));
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
  EXPECT_EQ(TakeCrashNotice(Folder), u"");  // named once
  EXPECT_TRUE(fs::exists(Folder / "crash-20260102-030405-77.dmp"));  // the record stays
}

TEST_F(CrashNoticeTest, NoMarkerOrNoFolderNamesNothingAndAMissingRecordIsSaid) {
  WriteFile(Folder / "crash-20260102-030405-77.txt", "old\r\n");
  EXPECT_EQ(TakeCrashNotice(Folder), u"");  // reported by an earlier start
  EXPECT_EQ(TakeCrashNotice(Folder / "absent"), u"");

  WriteFile(Folder / UnreportedMarker, "crash-20260102-030405-78\r\n");
  std::string Notice = Narrow(TakeCrashNotice(Folder));
  EXPECT_NE(Notice.find("(the record is missing)"), std::string::npos) << Notice;
}

}  // namespace
