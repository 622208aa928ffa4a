#include "CommandLine.h"

TCommandLine ParseCommandLine(const std::vector<std::u16string>& Arguments) {
  using TAction = TCommandLine::TAction;
  TCommandLine Command;
  if (Arguments.empty()) return Command;
  const std::u16string& First = Arguments[0];
  const std::size_t Expected = First == u"--install-service" ? 2 : 1;
  if (First == u"--help" || First == u"-h" || First == u"/?") {
    Command.Action = TAction::Help;
  } else if (First == u"--service") {
    Command.Action = TAction::RunService;
  } else if (First == u"--uninstall-service") {
    Command.Action = TAction::UninstallService;
  } else if (First == u"--install-service") {
    Command.Action = TAction::InstallService;
    if (Arguments.size() > 1) {
      if (Arguments[1] == u"demand") {
        Command.AutoStart = false;
      } else if (Arguments[1] != u"auto") {
        Command.Action = TAction::Invalid;
        Command.Error = u"Unknown start type \"" + Arguments[1] + u"\": use auto or demand.";
        return Command;
      }
    }
  } else {
    Command.Action = TAction::Invalid;
    Command.Error = u"Unknown argument \"" + First + u"\".";
    return Command;
  }
  if (Arguments.size() > Expected) {
    Command.Action = TAction::Invalid;
    Command.Error = u"Unexpected argument \"" + Arguments[Expected] + u"\".";
  }
  return Command;
}

std::u16string UsageText() {
  return u"Usage: tagrelay.exe [option]\r\n"
         u"  (no option)                       the agent with its window\r\n"
         u"  --install-service [auto|demand]   installs the Tagrelay service (auto: starts with\r\n"
         u"                                    Windows, the default; demand: started by hand)\r\n"
         u"  --uninstall-service               stops and removes the Tagrelay service\r\n"
         u"  --service                         what the service manager runs\r\n"
         u"  --help                            this text\r\n"
         u"The service and --install-service/--uninstall-service need an administrator.\r\n";
}
