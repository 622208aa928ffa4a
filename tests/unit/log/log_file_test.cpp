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

namespace {

namespace fs = std::filesystem;

class TTempFolder {
 public:
  TTempFolder() {
    static std::atomic<int> Counter{0};
    Path = fs::temp_directory_path() /
           ("tagrelay-logfile-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
            "-" + std::to_string(++Counter));
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

TEST(LogFileTest, EveryEntryIsWrittenStampedWhetherLoggingIsOnOrNot) {
  TTempFolder Folder;
  const fs::path Path = Folder.Path / "agent.log";
  {
    TLogger Logger;
    TLogFile File(Path, 1 << 20);
    Logger.SetFileProp(&File);
    Logger.ToLog(LogDone, u"Read ini", 0);
    Logger.SetLogEnabled(true);
    Logger.ToLog(LogError, u"Socket Error # 10061\r\nConnection refused.", 5);
    Logger.ToLog(LogInfo, u"caf\u00e9", 0);
    Logger.SetFileProp(nullptr);
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

}  // namespace
