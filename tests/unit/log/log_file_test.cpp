// The log's file copy: stamped lines of every entry, written by a thread of its own, rotated into
// one ".1" file, nothing lost when it closes, an unwritable file told once.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LogFile.h"
#include "Logger.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

class TTempFolder {
 public:
  TTempFolder() {
    static std::atomic<int> Counter{0};
    Path = fs::temp_directory_path() /
           ("tagrelay-logfile-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
            std::to_string(++Counter));
    fs::create_directories(Path);
  }
  ~TTempFolder() {
    std::error_code Ignored;
    fs::remove_all(Path, Ignored);
  }
  fs::path Path;
};

// The file's lines without their time stamps; a line without a stamp is kept whole, so it fails
// the comparisons.
std::vector<std::string> Lines(const fs::path& File) {
  static const std::regex Stamped(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*)$)");
  std::ifstream In(File, std::ios::binary);
  std::vector<std::string> Out;
  std::string Line;
  while (std::getline(In, Line)) {
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    std::smatch M;
    Out.push_back(std::regex_match(Line, M, Stamped) ? M[1].str() : "UNSTAMPED " + Line);
  }
  return Out;
}

std::u16string U(const std::string& Text) {
  return std::u16string(Text.begin(), Text.end());
}

std::string U8(const std::u16string& Text) {
  std::string Out;
  for (char16_t C : Text) Out.push_back(C < 0x80 ? static_cast<char>(C) : '?');
  return Out;
}

TEST(LogFileTest, EveryEntryIsWrittenStampedWhetherLoggingIsOnOrNot) {
  TTempFolder Folder;
  const fs::path Path = Folder.Path / "agent.log";
  {
    TLogger Logger;
    TLogFile File(Path, 1 << 20);
    Logger.AddSink(&File);
    Logger.ToLog(LogDone, u"Read ini", 0);
    Logger.SetLogEnabled(true);
    Logger.ToLog(LogError, u"Socket Error # 10061\r\nConnection refused.", 5);
    Logger.ToLog(LogInfo, u"caf\u00e9", 0);
    Logger.RemoveSink(&File);
    Logger.ToLog(LogInfo, u"after", 0);
  }
  const std::vector<std::string> Expected = {"Done Read ini",
                                             "",
                                             "**********ERROR***********",
                                             "Socket Error # 10061",
                                             "Connection refused. TransID = 5",
                                             "**************************",
                                             "caf\xc3\xa9"};
  EXPECT_EQ(Lines(Path), Expected);
}

TEST(LogFileTest, NothingIsLostAtCloseAndEachThreadKeepsItsOrder) {
  TTempFolder Folder;
  const fs::path Path = Folder.Path / "many.log";
  constexpr int Threads = 4;
  constexpr int Entries = 3000;
  {
    TLogFile File(Path, 64ull << 20);
    std::vector<std::thread> Writers;
    for (int T = 0; T < Threads; ++T)
      Writers.emplace_back([&File, T] {
        for (int I = 0; I < Entries; ++I) {
          // Appended piece by piece: "t" + std::string trips a false -Wrestrict of g++ 12 (-O3).
          std::string Text = "t";
          Text += std::to_string(T);
          Text += ' ';
          Text += std::to_string(I);
          File.Append({U(Text)});
        }
      });
    for (auto& W : Writers) W.join();
  }
  std::map<int, int> Next;
  std::vector<std::string> All = Lines(Path);
  ASSERT_EQ(All.size(), static_cast<std::size_t>(Threads * Entries));
  for (const auto& Line : All) {
    int T = -1, I = -1;
    ASSERT_EQ(std::sscanf(Line.c_str(), "t%d %d", &T, &I), 2) << Line;
    EXPECT_EQ(I, Next[T]++) << Line;
  }
}

TEST(LogFileTest, RotatesIntoOneOlderFileAtItsBound) {
  TTempFolder Folder;
  const fs::path Path = Folder.Path / "small.log";
  constexpr uint64_t Bound = 2000;
  {
    TLogFile File(Path, Bound);
    for (int I = 0; I < 300; ++I) File.Append({U("entry " + std::to_string(I))});
  }
  fs::path Older = Path;
  Older += ".1";
  ASSERT_TRUE(fs::exists(Older));
  EXPECT_LE(fs::file_size(Path), Bound);
  EXPECT_LE(fs::file_size(Older), Bound);
  EXPECT_FALSE(fs::exists(Folder.Path / "small.log.1.1"));
  // The two files hold the newest entries without a gap, the older file first.
  std::vector<std::string> Kept = Lines(Older);
  std::vector<std::string> Newer = Lines(Path);
  Kept.insert(Kept.end(), Newer.begin(), Newer.end());
  ASSERT_FALSE(Kept.empty());
  EXPECT_EQ(Kept.back(), "entry 299");
  const int First = std::stoi(Kept.front().substr(6));
  for (std::size_t K = 0; K < Kept.size(); ++K)
    EXPECT_EQ(Kept[K], "entry " + std::to_string(First + static_cast<int>(K)));
}

TEST(LogFileTest, AFileThatCannotBeWrittenIsToldOnce) {
  TTempFolder Folder;
  const fs::path Path = Folder.Path / "taken";
  fs::create_directories(Path);  // a folder takes the file's name
  TLogFile File(Path, 1 << 20);
  File.Append({u"lost"});
  std::optional<std::u16string> Failure;
  for (int I = 0; I < 500 && !(Failure = File.TakeFailure()); ++I)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(Failure.has_value());
  EXPECT_EQ(Failure->rfind(u"Cannot write the log file ", 0), 0u);
  File.Append({u"lost too"});
  EXPECT_FALSE(File.TakeFailure().has_value());
}

// The text of entry I ("entry 12").
std::u16string Entry(int I) {
  std::string Text = "entry ";
  Text += std::to_string(I);
  return U(Text);
}

// Every failure the file reports, waiting until the writer has seen at least Count of them.
std::vector<std::u16string> Failures(TLogFile& File, std::size_t Count) {
  std::vector<std::u16string> Out;
  for (int I = 0; I < 500 && Out.size() < Count; ++I) {
    if (std::optional<std::u16string> Failure = File.TakeFailure())
      Out.push_back(*Failure);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  while (std::optional<std::u16string> Failure = File.TakeFailure()) Out.push_back(*Failure);
  return Out;
}

bool StartsWith(const std::u16string& Text, const std::u16string& Head) {
  return Text.rfind(Head, 0) == 0;
}

// A ".1" that cannot be replaced (here a folder that is not empty, which no rename replaces)
// leaves the older file as it was; the log starts anew rather than growing past its bound, and
// the failure is reported once however often the bound is reached.
TEST(LogFileTest, ARotationThatCannotRenameStaysWithinTheBoundAndIsToldOnce) {
  TTempFolder Folder;
  const fs::path Path = Folder.Path / "agent.log";
  fs::path Older = Path;
  Older += ".1";
  fs::create_directories(Older / "kept");
  constexpr uint64_t Bound = 2000;
  std::vector<std::u16string> Told;
  {
    TLogFile File(Path, Bound);
    for (int I = 0; I < 300; ++I) File.Append({Entry(I)});
    Told = Failures(File, 1);
  }
  EXPECT_LE(fs::file_size(Path), Bound);
  EXPECT_TRUE(fs::is_directory(Older / "kept"));
  ASSERT_EQ(Told.size(), 1u);
  EXPECT_TRUE(StartsWith(Told[0], u"Cannot rename the log file ")) << U8(Told[0]);
  const std::vector<std::string> Kept = Lines(Path);
  ASSERT_FALSE(Kept.empty());
  EXPECT_EQ(Kept.front(), "The log file could not be renamed to its .1 file and was started anew");
  EXPECT_EQ(Kept.back(), "entry 299");
}

#ifdef _WIN32
// A viewer or a scanner holding the log or its ".1" open (without letting it be renamed or
// deleted) blocks the rename: the ".1" keeps its entries, the log stays within its bound and the
// failure is told once. Once the file is let go, rotation works again.
TEST(LogFileTest, AFileHeldOpenByAnotherProgramNeitherGrowsNorLosesTheOlderFile) {
  for (const char* Held : {"", ".1"}) {
    TTempFolder Folder;
    const fs::path Path = Folder.Path / "agent.log";
    fs::path Older = Path;
    Older += ".1";
    std::ofstream(Older, std::ios::binary) << "older entries\r\n";
    std::ofstream(Path, std::ios::binary) << "first\r\n";
    fs::path HeldPath = Path;
    HeldPath += Held;
    HANDLE Viewer = CreateFileW(HeldPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(Viewer, INVALID_HANDLE_VALUE);
    constexpr uint64_t Bound = 2000;
    std::vector<std::u16string> Told;
    {
      TLogFile File(Path, Bound);
      for (int I = 0; I < 300; ++I) File.Append({Entry(I)});
      Told = Failures(File, 1);
      EXPECT_LE(fs::file_size(Path), Bound) << Held;
      CloseHandle(Viewer);
      for (int I = 300; I < 400; ++I) File.Append({Entry(I)});
    }
    ASSERT_EQ(Told.size(), 1u) << Held;
    EXPECT_TRUE(StartsWith(Told[0], u"Cannot rename the log file ")) << Held;
    EXPECT_LE(fs::file_size(Path), Bound) << Held;
    // Let go, the file rotates again: the ".1" now holds entries of this run.
    const std::vector<std::string> Rotated = Lines(Older);
    ASSERT_FALSE(Rotated.empty()) << Held;
    EXPECT_EQ(Rotated.back().rfind("entry ", 0), 0u) << Held << ": " << Rotated.back();
    EXPECT_EQ(Lines(Path).back(), "entry 399") << Held;
  }
}
#else
// A disk that takes nothing more: the failure is told once, and the program goes on.
TEST(LogFileTest, AFullDiskIsToldOnce) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::vector<std::u16string> Told;
  {
    TLogFile File("/dev/full", uint64_t{1} << 40);  // far beyond what is written: never rotated
    for (int I = 0; I < 50; ++I) File.Append({Entry(I)});
    Told = Failures(File, 1);
  }
  ASSERT_EQ(Told.size(), 1u);
  EXPECT_EQ(Told[0], u"Cannot write the log file /dev/full: the disk may be full");
}
#endif

}  // namespace
