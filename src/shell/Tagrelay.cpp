// Program start: one main window and its message loop.
#include <windows.h>
#include <commctrl.h>

#include "AppConfig.h"
#include "ComSecurity.h"
#include "CrashRecord.h"
#include "MainForm.h"

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

}  // namespace

int WINAPI wWinMain(HINSTANCE Instance, HINSTANCE, PWSTR, int ShowCommand) {
  RestrictLibrarySearch();
  TCrashRecords crashRecords(CrashFolder());
  // Before anything is marshalled; the agent runs on whatever the result.
  TComSecurity comSecurity;

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  // Seeded from the clock once, before the window exists.
  TUnitRandom random;
  TMainFrm mainFrm(Instance, [&random] { return random.Next(); });
  mainFrm.SetComSecurityProp(comSecurity.Result());
  if (!mainFrm.Create(ShowCommand)) return 1;

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    mainFrm.DispatchQueued(msg);
  }
  return static_cast<int>(msg.wParam);
}
