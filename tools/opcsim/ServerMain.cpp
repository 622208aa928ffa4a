// opcsim-server.exe: the simulated servers of a configuration file as a local COM server, each
// class under an identity of its own (LocalServer.h). COM starts it with "/Class {CLSID}
// -Embedding" (the class part comes from its registration), so every simulated server runs in a
// process of its own; it serves one activation, runs the simulator's objects on its apartment
// thread while it pumps messages, and exits when its last object is released.
//   opcsim-server.exe /RegServer | /UnregServer     writes or removes the registry entries
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "LocalServer.h"
#include "OpcSim.h"
#include "SimComBase.h"
#include "SimDevice.h"
#include "SimRegistration.h"

namespace {

// A process started by hand, or by an activation that never came, gives up after this long.
constexpr DWORD kUnusedLifetimeMs = 60000;
constexpr UINT kCheckPeriodMs = 100;

struct Options {
  bool regServer = false;
  bool unregServer = false;
  bool hasClass = false;
  CLSID onlyClass{};
};

bool Is(const wchar_t* arg, const wchar_t* name) {
  return (arg[0] == L'/' || arg[0] == L'-') && _wcsicmp(arg + 1, name) == 0;
}

Options ParseOptions() {
  Options options;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 1; argv && i < argc; ++i) {
    if (Is(argv[i], L"RegServer")) options.regServer = true;
    if (Is(argv[i], L"UnregServer")) options.unregServer = true;
    if (Is(argv[i], L"Class") && i + 1 < argc)
      options.hasClass = SUCCEEDED(CLSIDFromString(argv[++i], &options.onlyClass));
  }
  LocalFree(argv);
  return options;
}

bool LoadServers(const Options& options) {
  std::filesystem::path config = opcsim::EnvironmentConfigPath();
  if (config.empty() && options.hasClass) config = opcsim::RegisteredConfigPath(options.onlyClass);
  if (config.empty()) config = opcsim::DefaultConfigPath();
  std::u16string text, error;
  return opcsim::ReadTextFile(config, text) &&
         opcsim::SimRegistry::Instance().Load(text, error, opcsim::MakeLocalIdentity);
}

int Register() {
  const std::wstring exe = opcsim::ModulePath().wstring();
  for (const auto& device : opcsim::SimRegistry::Instance().Devices()) {
    const std::wstring commandLine = L"\"" + exe + L"\" /Class " +
                                     std::wstring(device->ClsidText().begin(),
                                                  device->ClsidText().end());
    if (FAILED(opcsim::RegisterLocalServer(*device, commandLine, opcsim::DefaultConfigPath())))
      return 1;
  }
  return 0;
}

int Unregister() {
  for (const auto& device : opcsim::SimRegistry::Instance().Devices())
    opcsim::UnregisterServer(*device);
  return 0;
}

// Pumps messages (the simulator's timers and COM's calls) until the process has served its
// objects and the last one is gone, or was never asked for.
void Serve(size_t classObjects) {
  const UINT_PTR timer = SetTimer(nullptr, 0, kCheckPeriodMs, nullptr);
  const DWORD started = GetTickCount();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == timer) {
      // Counted at creation, so a client done between two checks is seen too.
      const bool used = opcsim::ServersCreated() > 0;
      const bool idle = opcsim::LiveObjects() <= static_cast<long>(classObjects) &&
                        opcsim::ServerLocks() == 0;
      if ((used && idle) || (!used && GetTickCount() - started > kUnusedLifetimeMs)) break;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  KillTimer(nullptr, timer);
}

class ComApartment {
 public:
  ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  bool Ok() const { return SUCCEEDED(hr_); }

 private:
  HRESULT hr_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  const Options options = ParseOptions();
  ComApartment apartment;
  if (!apartment.Ok() || !LoadServers(options)) return 2;
  if (options.regServer) return Register();
  if (options.unregServer) return Unregister();
  opcsim::SingleUseClassObjects classObjects;
  if (FAILED(classObjects.Register(options.hasClass ? &options.onlyClass : nullptr))) return 2;
  Serve(classObjects.Count());
  return 0;
}
