// The log's content without a window: the lines of each entry kind, the TransID suffix, texts
// with line breaks and the 300-line bound, and the logger used from several threads.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "LogModel.h"
#include "Logger.h"

namespace {

using TLines = std::vector<std::u16string>;

const std::u16string ErrorHeader = u"**********ERROR***********";
const std::u16string ErrorFooter = u"**************************";

TEST(LogModelTest, LinesOfEachEntryKind) {
  struct TCase {
    int32_t Cmd;
    std::u16string Text;
    TLines Lines;
  };
  const std::vector<TCase> Cases = {
      {LogDone, u"Read ini", {u"Done Read ini", u""}},
      {LogInfo, u"Start and initialize client...", {u"Start and initialize client..."}},
      {LogError, u"Cannot read ini file", {ErrorHeader, u"Cannot read ini file", ErrorFooter}},
      {LogError,
       u"Socket Error # 10061\r\nConnection refused.",
       {ErrorHeader, u"Socket Error # 10061", u"Connection refused.", ErrorFooter}},
      {LogInfo, u"a\nb\rc\r\n\r\nd", {u"a", u"b", u"c", u"", u"d"}},
      {LogDone, u"two\r\nparts", {u"Done two", u"parts", u""}},
      {LogInfo, u"", {u""}},
      {LogInfo, u"ends with a break\r\n", {u"ends with a break", u""}},
      {3, u"ignored", {}},
      {-1, u"ignored", {}},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(LogEntryLines(Case.Cmd, Case.Text), Case.Lines) << Case.Cmd;
}

TEST(LogModelTest, TransIdSuffixOnlyAboveZero) {
  EXPECT_EQ(LogEntryText(u"getValues", 5), u"getValues TransID = 5");
  EXPECT_EQ(LogEntryText(u"x", 2147483647), u"x TransID = 2147483647");
  EXPECT_EQ(LogEntryText(u"x", 0), u"x");
  EXPECT_EQ(LogEntryText(u"x", -7), u"x");
}

TEST(LogModelTest, KeepsTheLast300LinesAndReportsTheViewsChanges) {
  TLogLines Log;
  // A text view that only ever follows the reported changes must equal the full text.
  std::u16string View;
  for (int I = 0; I < 1000; ++I) {
    std::u16string Text = u"entry ";
    Text.append(static_cast<std::size_t>(I % 7), u'#').append(u"\r\nx");
    View += Log.Append(LogEntryLines(I % 3, Text));
    View.erase(0, Log.Trim());
    ASSERT_LE(Log.Count(), TLogLines::MaxLines);
  }
  EXPECT_EQ(Log.Count(), 300u);
  EXPECT_EQ(View, Log.Text());
  // The newest entry (999: kind 0) is at the end.
  EXPECT_EQ(Log.Items()[297], u"Done entry #####");
  EXPECT_EQ(Log.Items()[298], u"x");
  EXPECT_EQ(Log.Items()[299], u"");
  // Lines keep their numbers: the last one is numbered by every line ever appended, less one.
  const std::uint64_t Total = Log.First() + Log.Count();
  ASSERT_NE(Log.Line(Total - 1), nullptr);
  EXPECT_EQ(*Log.Line(Total - 1), u"");
  EXPECT_EQ(*Log.Line(Log.First()), Log.Items().front());
  EXPECT_EQ(Log.Line(Log.First() - 1), nullptr);
  EXPECT_EQ(Log.Line(Total), nullptr);
  // An entry that adds nothing changes nothing.
  EXPECT_EQ(Log.Append(LogEntryLines(3, u"none")), u"");
  EXPECT_EQ(Log.Trim(), 0u);
  // Clearing drops the lines but not their numbers.
  Log.Clear();
  EXPECT_EQ(Log.Text(), u"");
  EXPECT_EQ(Log.First(), Total);
  EXPECT_EQ(Log.Line(Total - 1), nullptr);
  Log.Append({u"next"});
  EXPECT_EQ(*Log.Line(Total), u"next");
}

TEST(LoggerTest, EntriesAppearOnlyWhileLoggingIsOn) {
  TLogger Logger;
  Logger.ToLog(LogInfo, u"dropped", 0);
  EXPECT_TRUE(Logger.Lines().empty());
  Logger.SetLogEnabled(true);
  Logger.ToLog(LogDone, u"Read ini", 0);
  Logger.ToLog(LogError, u"failed", 5);
  Logger.ToLog(3, u"nothing", 0);
  EXPECT_EQ(Logger.Lines(),
            (TLines{u"Done Read ini", u"", ErrorHeader, u"failed TransID = 5", ErrorFooter}));
  Logger.Clear();
  EXPECT_TRUE(Logger.Lines().empty());
}

TEST(LoggerTest, EntriesFromSeveralThreadsStayWholeAndInOrder) {
  TLogger Logger;
  Logger.SetLogEnabled(true);
  constexpr int Threads = 6;
  constexpr int Entries = 200;
  std::vector<std::thread> Loggers;
  for (int T = 0; T < Threads; ++T) {
    Loggers.emplace_back([&Logger, T] {
      for (int I = 0; I < Entries; ++I) {
        std::u16string Text = u"T";
        Text.append(1, static_cast<char16_t>(u'0' + T)).append(u"\r\n");
        Text.append(static_cast<std::size_t>(I), u'.');
        Logger.ToLog(LogError, Text, I + 1);
      }
    });
  }
  for (auto& Thread : Loggers) Thread.join();
  TLines Lines = Logger.Lines();
  // 1200 entries of four lines each: the last 75 entries remain, whole.
  ASSERT_EQ(Lines.size(), 300u);
  std::map<std::u16string, std::size_t> LastLength;
  for (std::size_t I = 0; I < Lines.size(); I += 4) {
    EXPECT_EQ(Lines[I], ErrorHeader);
    EXPECT_EQ(Lines[I + 3], ErrorFooter);
    const std::u16string& Owner = Lines[I + 1];
    std::size_t Length = Lines[I + 2].find(u' ');
    ASSERT_NE(Length, std::u16string::npos);
    EXPECT_EQ(
        Lines[I + 2].substr(Length), u" TransID = " + [&] {
          std::u16string Digits;
          for (char C : std::to_string(Length + 1)) Digits.push_back(static_cast<char16_t>(C));
          return Digits;
        }());
    if (LastLength.count(Owner)) {
      EXPECT_GT(Length, LastLength[Owner]) << "order of one thread";
    }
    LastLength[Owner] = Length;
  }
}

}  // namespace
