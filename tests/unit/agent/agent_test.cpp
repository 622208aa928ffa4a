// The agent's core with no window: where it finds its files, what it reads and writes, its file
// log, and a start and stop against a SCADA side on 127.0.0.1 with a stand-in router.
#include <gtest/gtest.h>

// First: it brings winsock2.h, which must come before windows.h.
#include "LoopbackServer.h"

#include <set>
#include <string>

#include "AgentTestSupport.h"
#include "Communicate.h"
#include "FakeRouter.h"
#include "LogFile.h"
#include "Logger.h"

namespace {

namespace fs = std::filesystem;

TEST(AgentPaths, SettingsBesideTheProgramFirstThenTheDataFolder) {
  const TAgentFolders Folders{"C:/Program Files/Tagrelay", "C:/ProgramData/Tagrelay",
                              "C:/Users/op/AppData/Local/Tagrelay/crash"};
  const fs::path Beside = Folders.Program / "tagrelayConfig.ini";
  const fs::path Shared = Folders.Data / "tagrelayConfig.ini";
  struct TCase {
    THostKind Host;
    std::set<fs::path> Existing;
    fs::path Expected;
  };
  const TCase Cases[] = {
      {THostKind::Window, {Beside, Shared}, Beside},
      {THostKind::Service, {Beside, Shared}, Beside},
      {THostKind::Window, {Shared}, Shared},
      {THostKind::Service, {Shared}, Shared},
      // Neither: the window program makes one beside itself as it always did; the service in the
      // data folder (the program's folder is not meant to be written).
      {THostKind::Window, {}, Beside},
      {THostKind::Service, {}, Shared},
  };
  for (const TCase& Case : Cases) {
    const TAgentPaths Paths = MakeAgentPaths(
        Case.Host, Folders, [&](const fs::path& File) { return Case.Existing.count(File) > 0; });
    EXPECT_EQ(Paths.ConfigFile, Case.Expected) << int(Case.Host) << " " << Case.Existing.size();
    if (Case.Host == THostKind::Service) {
      EXPECT_EQ(Paths.DefaultLogFile, Folders.Data / "log" / "tagrelay.log");
      EXPECT_EQ(Paths.CrashFolder, Folders.Data / "crash");
    } else {
      EXPECT_TRUE(Paths.DefaultLogFile.empty()) << "the window program logs to a file on request";
      EXPECT_EQ(Paths.CrashFolder, Folders.LocalCrash);
    }
  }
}

class AgentTest : public ::testing::Test {
 protected:
  TAgentPaths ServicePaths() const {
    return {Folder.Path() / "data" / "tagrelayConfig.ini",
            Folder.Path() / "data" / "log" / "tagrelay.log", Folder.Path() / "data" / "crash"};
  }
  std::unique_ptr<TAgent> MakeAgent(TAgentPaths Paths) {
    TAgentOptions Options = MemoryOptions(Ini, std::move(Paths));
    Options.MakeRouter = [this] { return std::make_unique<TFakeRouter>(Router); };
    return std::make_unique<TAgent>(Logger, std::move(Options));
  }

  TScratchFolder Folder{::testing::UnitTest::GetInstance()->current_test_info()->name()};
  std::shared_ptr<TMemoryIni> Ini = std::make_shared<TMemoryIni>();
  std::shared_ptr<TFakeRouterState> Router = std::make_shared<TFakeRouterState>();
  TLogger Logger;
};

TEST_F(AgentTest, ServiceLogsToItsDefaultFileFromTheFirstEntryWithTheLastCrashFirst) {
  const TAgentPaths Paths = ServicePaths();
  fs::create_directories(Paths.CrashFolder);
  // Written as the crash filter writes them: bytes as they are.
  std::ofstream(Paths.CrashFolder / "unreported.txt", std::ios::binary)
      << "crash-20261211-010203-42\r\n";
  std::ofstream(Paths.CrashFolder / "crash-20261211-010203-42.txt", std::ios::binary)
      << "2026-12-11 01:02:03 exception C0000005 at opcsim.dll+0x1A2B\r\n";
  Ini->Values[u"uid"] = u"4711000042";
  {
    auto Agent = MakeAgent(Paths);
    ASSERT_TRUE(Agent->ReadSettings());
    ASSERT_NE(Agent->LogFile(), nullptr);
    EXPECT_EQ(Agent->LogFile()->Path(), Paths.DefaultLogFile);
    Agent->Stop();
    EXPECT_EQ(Agent->LogFile(), nullptr) << "closed, and detached from the log";
    Logger.ToLog(LogError, u"after the stop", 0);
  }
  const std::string Text = ReadFileText(Paths.DefaultLogFile);
  const auto Crash = Text.find("exception C0000005 at opcsim.dll+0x1A2B");
  const auto Reading = Text.find("Read ini file...");
  ASSERT_NE(Crash, std::string::npos) << Text;
  ASSERT_NE(Reading, std::string::npos) << Text;
  EXPECT_LT(Crash, Reading);
  EXPECT_NE(Text.find("Done Read ini"), std::string::npos) << Text;
  EXPECT_EQ(Text.find("after the stop"), std::string::npos);
  EXPECT_EQ(Ini->Writes, 0) << "with an identifier in place the settings are only read";
}

TEST_F(AgentTest, LogFileKeyOverridesTheDefaultARelativeNameBesideTheSettingsNotTheWorkingFolder) {
  Ini->Values[u"uid"] = u"4711000042";
  Ini->Values[u"LogFile"] = u"logs\\own.log";
#ifndef _WIN32
  Ini->Values[u"LogFile"] = u"logs/own.log";
#endif
  auto Agent = MakeAgent(ServicePaths());
  ASSERT_TRUE(Agent->ReadSettings());
  ASSERT_NE(Agent->LogFile(), nullptr);
  EXPECT_EQ(Agent->LogFile()->Path(), Folder.Path() / "data" / "logs" / "own.log");
}

TEST_F(AgentTest, WindowHostHasNoFileLogUnlessAsked) {
  Ini->Values[u"uid"] = u"4711000042";
  TAgentPaths Paths = ServicePaths();
  Paths.DefaultLogFile.clear();
  auto Agent = MakeAgent(Paths);
  ASSERT_TRUE(Agent->ReadSettings());
  EXPECT_EQ(Agent->LogFile(), nullptr);
}

TEST_F(AgentTest, FirstUseStoresANewIdentifierAndNothingElse) {
  auto Agent = MakeAgent(ServicePaths());
  ASSERT_TRUE(Agent->ReadSettings());
  EXPECT_EQ(Agent->Settings().Uid, u"1234567890");
  EXPECT_EQ(Ini->Values, (std::map<std::u16string, std::u16string>{{u"uid", u"1234567890"}}));
}

TEST_F(AgentTest, SettingsThatCannotBeReadAreReportedAndStartNoLink) {
  Ini->ReadOnly = true;  // the new identifier cannot be stored
  Logger.SetLogEnabled(true);
  auto Agent = MakeAgent(ServicePaths());
  EXPECT_FALSE(Agent->ReadSettings());
  const auto Lines = Logger.Lines();
  const auto Expected = LogEntryLines(LogError, u"Cannot read ini file");
  EXPECT_NE(std::search(Lines.begin(), Lines.end(), Expected.begin(), Expected.end()), Lines.end());
  EXPECT_EQ(Agent->Link(), nullptr);
}

// The host's check of its files comes first. Unsafe settings are not read at all, their LogFile
// key neither: the default file log says why (unless its folder is what is unsafe), no identifier
// is stored and no link starts. What the check mended is logged either way.
TEST_F(AgentTest, FilesTheHostFindsUnsafeAreNotUsed) {
  struct TCase {
    const char* What;
    TFileCheck Check;
    bool Read;
    bool DefaultLog;
  };
  const TCase Cases[] = {
      {"safe, a folder mended", {{u"Folder mended"}, u"", true}, true, false},
      {"unsafe settings", {{u"Folder mended"}, u"Settings file is not used", true}, false, true},
      {"unsafe data folder", {{}, u"Folder is not used", false}, false, false},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    Ini->Values = {{u"uid", u"4711000042"}, {u"LogFile", u"elsewhere.log"}};
    Ini->Writes = 0;
    const TAgentPaths Paths = ServicePaths();
    fs::remove_all(Folder.Path() / "data");
    TAgentOptions Options = MemoryOptions(Ini, Paths);
    Options.CheckFiles = [&](const TAgentPaths& Asked) {
      EXPECT_EQ(Asked.ConfigFile, Paths.ConfigFile);
      EXPECT_FALSE(fs::exists(Folder.Path() / "data")) << "checked before anything is made";
      return Case.Check;
    };
    TAgent Agent(Logger, std::move(Options));
    EXPECT_EQ(Agent.ReadSettings(), Case.Read);
    Agent.Stop();
    EXPECT_EQ(fs::exists(Paths.DefaultLogFile), Case.DefaultLog);
    const fs::path Named = Folder.Path() / "data" / "elsewhere.log";
    EXPECT_EQ(fs::exists(Named), Case.Read) << "the settings' own log only when they are read";
    const std::string Log = ReadFileText(Case.Read ? Named : Paths.DefaultLogFile);
    for (const std::u16string& Note : Case.Check.Notes)
      EXPECT_NE(Log.find(std::string(Note.begin(), Note.end())), std::string::npos);
    if (Case.DefaultLog) {
      EXPECT_NE(Log.find("Settings file is not used"), std::string::npos);
    }
    EXPECT_EQ(Ini->Writes, 0);
    EXPECT_EQ(Agent.Link(), nullptr);
  }
}

TEST_F(AgentTest, StartConnectsAndGreetsStopClosesTheLinkAndDestroysTheRouter) {
  TLoopbackServer Scada;
  Ini->Values = {{u"KelScadaIp", u"127.0.0.1"},
                 {u"KelScadaPort", std::u16string(u"") +
                                       [&] {
                                         const std::string Port = std::to_string(Scada.Port());
                                         return std::u16string(Port.begin(), Port.end());
                                       }()},
                 {u"uid", u"4711000042"}};
  auto Agent = MakeAgent(ServicePaths());
  ASSERT_TRUE(Agent->ReadSettings());
  Agent->Start();
  ASSERT_NE(Agent->Link(), nullptr);
  // The first attempt comes at the reconnect timer's next wake-up (5 s).
  auto Peer = Scada.Accept(20000);
  ASSERT_TRUE(Peer);
  std::string Line;
  ASSERT_TRUE(Peer->ReadLine(Line, 10000));
  EXPECT_EQ(Line, R"({"cmd":"serverOnline"})");

  Agent->Stop();
  EXPECT_EQ(Agent->Link(), nullptr);
  EXPECT_TRUE(Router->Destroyed);
  EXPECT_TRUE(Peer->WaitClosed(10000)) << "the SCADA side sees the link close";
  Agent->Stop();  // a second stop is harmless
}

}  // namespace
