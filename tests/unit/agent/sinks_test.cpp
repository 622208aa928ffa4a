// The log's sinks: every entry reaches each attached sink whether the log is on or not; the file
// log writes them out; the Event Log gets errors only, without their frame, repeats folded.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "EventLogSink.h"
#include "LogFile.h"
#include "LogModel.h"
#include "Logger.h"

namespace {

struct TRecordingSink : TLogSink {
  std::vector<std::pair<int32_t, std::vector<std::u16string>>> Entries;
  void Write(int32_t Cmd, const std::vector<std::u16string>& Lines) override {
    Entries.emplace_back(Cmd, Lines);
  }
};

struct TEventStandIn : TEventLogWriter {
  std::vector<std::pair<TEventKind, std::u16string>> Events;
  void Report(TEventKind Kind, const std::u16string& Text) override {
    Events.emplace_back(Kind, Text);
  }
};

std::string ReadAll(const std::filesystem::path& File) {
  std::ifstream In(File, std::ios::binary);
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

TEST(LogSinks, EveryEntryReachesEachSinkUntilRemovedWhetherLoggingIsOnOrNot) {
  TLogger Logger;
  TRecordingSink First, Second;
  Logger.AddSink(&First);
  Logger.AddSink(&Second);
  Logger.ToLog(LogInfo, u"off", 0);
  Logger.SetLogEnabled(true);
  Logger.ToLog(LogError, u"on", 7);
  Logger.MessageToLog(LogError, u"crash notice");
  Logger.RemoveSink(&First);
  Logger.ToLog(LogInfo, u"after", 0);

  ASSERT_EQ(First.Entries.size(), 3u);
  EXPECT_EQ(First.Entries[0].second, LogEntryLines(LogInfo, u"off"));
  EXPECT_EQ(First.Entries[1].first, LogError);
  EXPECT_EQ(First.Entries[1].second, LogEntryLines(LogError, u"on TransID = 7"));
  EXPECT_EQ(First.Entries[2].second, LogEntryLines(LogError, u"crash notice"));
  EXPECT_EQ(Second.Entries.size(), 4u);
  // The in-memory log only holds what came while it was on.
  EXPECT_EQ(Logger.Lines().size(), LogEntryLines(LogError, u"on TransID = 7").size() +
                                       LogEntryLines(LogError, u"crash notice").size() + 1);
}

TEST(LogSinks, FileLogGetsTheEntriesOfEveryThreadAndWritesThemOutWhenClosed) {
  const auto Folder =
      std::filesystem::temp_directory_path() /
      ("tg_sinks_" + std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id())));
  std::filesystem::remove_all(Folder);
  std::filesystem::create_directories(Folder);
  const auto Path = Folder / "agent.log";
  {
    TLogger Logger;
    TLogFile File(Path, 1 << 20);
    Logger.AddSink(&File);
    std::vector<std::thread> Threads;
    for (int T = 0; T < 4; ++T)
      Threads.emplace_back([&Logger, T] {
        for (int I = 0; I < 50; ++I)
          Logger.ToLog(LogInfo, u"thread " + std::u16string(1, char16_t(u'0' + T)), 0);
      });
    for (auto& Thread : Threads) Thread.join();
    Logger.RemoveSink(&File);
  }
  const std::string Text = ReadAll(Path);
  for (char T = '0'; T < '4'; ++T) {
    std::size_t Count = 0;
    for (std::size_t At = Text.find(std::string("thread ") + T); At != std::string::npos;
         At = Text.find(std::string("thread ") + T, At + 1))
      ++Count;
    EXPECT_EQ(Count, 50u) << "thread " << T;
  }
  std::filesystem::remove_all(Folder);
}

TEST(EventLogSink, ErrorsOnlyWithoutTheirFrameRepeatsFoldedNotesAsInformation) {
  TEventStandIn Writer;
  TEventLogSink Sink(Writer);
  TLogger Logger;
  Logger.AddSink(&Sink);
  Sink.Note(u"started");
  Logger.ToLog(LogInfo, u"Read ini file...", 0);
  Logger.ToLog(LogDone, u"Read ini", 0);
  for (int I = 0; I < 3; ++I) Logger.ToLog(LogError, u"Cannot connect\r\nto 127.0.0.1", 0);
  Logger.ToLog(LogError, u"Lost the link", 0);
  Logger.ToLog(LogError, u"Cannot connect\r\nto 127.0.0.1", 0);
  Logger.RemoveSink(&Sink);
  Sink.Note(u"stopped");

  const std::vector<std::pair<TEventKind, std::u16string>> Expected = {
      {TEventKind::Information, u"started"},
      {TEventKind::Error, u"Cannot connect\r\nto 127.0.0.1"},
      {TEventKind::Error,
       u"Lost the link\r\n(The error before this one was repeated 2 more times.)"},
      {TEventKind::Error, u"Cannot connect\r\nto 127.0.0.1"},
      {TEventKind::Information, u"stopped"},
  };
  EXPECT_EQ(Writer.Events, Expected);
}

}  // namespace
