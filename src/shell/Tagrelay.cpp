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

// No library is taken from the current folder from now on: only from the program's folder, the
// system folder and folders added on purpose. Looked up, since systems without the update that
// brought it lack the function.
void RestrictLibrarySearch() {
  using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
  const auto Set = reinterpret_cast<TSetDefaultDllDirectories>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (Set) Set(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

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
  TCrashRecords crashRecords(Paths.CrashFolder);
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
  mainFrm.SetServiceQueryProp(ServiceRuns);
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
  RestrictLibrarySearch();
  const TCommandLine Command = ParseCommandLine(Arguments());
  if (Command.Action == TCommandLine::TAction::Window) return RunWindow(Instance, ShowCommand);
  if (Command.Action == TCommandLine::TAction::RunService) {
    TCrashRecords crashRecords(AgentPaths(THostKind::Service).CrashFolder);
    return RunCommand(Command);
  }
  return RunCommand(Command);
}
