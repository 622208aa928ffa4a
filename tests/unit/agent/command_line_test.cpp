// The command line's actions, start types and what is refused.
#include <gtest/gtest.h>

#include "CommandLine.h"

namespace {

using TAction = TCommandLine::TAction;

struct TCase {
  std::vector<std::u16string> Arguments;
  TAction Action;
  bool AutoStart;
};

TEST(CommandLine, ActionsAndStartTypes) {
  const TCase Cases[] = {
      {{}, TAction::Window, true},
      {{u"--service"}, TAction::RunService, true},
      {{u"--install-service"}, TAction::InstallService, true},
      {{u"--install-service", u"auto"}, TAction::InstallService, true},
      {{u"--install-service", u"demand"}, TAction::InstallService, false},
      {{u"--uninstall-service"}, TAction::UninstallService, true},
      {{u"--help"}, TAction::Help, true},
      {{u"/?"}, TAction::Help, true},
  };
  for (const TCase& Case : Cases) {
    const TCommandLine Command = ParseCommandLine(Case.Arguments);
    EXPECT_EQ(Command.Action, Case.Action) << Case.Arguments.size();
    EXPECT_EQ(Command.AutoStart, Case.AutoStart);
    EXPECT_TRUE(Command.Error.empty());
  }
}

TEST(CommandLine, RefusesWhatItDoesNotKnowAndSaysWhat) {
  const std::vector<std::pair<std::vector<std::u16string>, std::u16string>> Cases = {
      {{u"--instal-service"}, u"\"--instal-service\""},
      {{u"--install-service", u"boot"}, u"\"boot\""},
      {{u"--install-service", u"demand", u"x"}, u"\"x\""},
      {{u"--service", u"extra"}, u"\"extra\""},
      {{u"--uninstall-service", u"auto"}, u"\"auto\""},
  };
  for (const auto& [Arguments, Named] : Cases) {
    const TCommandLine Command = ParseCommandLine(Arguments);
    EXPECT_EQ(Command.Action, TAction::Invalid) << Arguments.size();
    EXPECT_NE(Command.Error.find(Named), std::u16string::npos);
  }
}

}  // namespace
