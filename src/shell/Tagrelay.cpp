// Program start: the service's command line, or one main window and its message loop.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "AgentPaths.h"
#include "AppConfig.h"
#include "CommandLine.h"
#include "ComSecurity.h"
#include "CrashRecord.h"
#include "MainForm.h"
#include "ServiceControl.h"
#include "SingleAgent.h"

namespace {

std::vector<std::u16string> Arguments() {
  std::vector<std::u16string> Result;
  int Count = 0;
  if (LPWSTR* List = CommandLineToArgvW(GetCommandLineW(), &Count)) {
    for (int I = 1; I < Count; ++I) Result.emplace_back(List[I], List[I] + lstrlenW(List[I]));
    LocalFree(List);
  }
  return Result;
}

int RunWindow(HINSTANCE Instance, int ShowCommand) {
  const TAgentPaths Paths = AgentPaths(THostKind::Window);
  InstallCrashRecords(Paths.CrashFolder);
  TSingleAgent Single(Paths.ConfigFile);
  if (!Single.First()) {
    Single.ShowFirst();
    return 0;
  }
  // Before anything is marshalled; the agent runs on whatever the result.
  TComSecurity comSecurity;

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  // Seeded from the clock once, before the window exists.
  TUnitRandom random;
  TMainFrm mainFrm(Instance, [&random] { return random.Next(); });
  mainFrm.SetComSecurityProp(comSecurity.Result());
  mainFrm.SetServiceRunsProp(ServiceRuns());
  mainFrm.SetSingleAgentProp(&Single);
  if (!mainFrm.Create(ShowCommand)) return 1;

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    mainFrm.DispatchQueued(msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE Instance, HINSTANCE, PWSTR, int ShowCommand) {
  const TCommandLine Command = ParseCommandLine(Arguments());
  if (Command.Action == TCommandLine::TAction::Window) return RunWindow(Instance, ShowCommand);
  if (Command.Action == TCommandLine::TAction::RunService)
    InstallCrashRecords(AgentPaths(THostKind::Service).CrashFolder);
  return RunCommand(Command);
}
