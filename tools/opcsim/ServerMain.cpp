// opcsim-server.exe: the simulated servers of a configuration file as a local COM server, each
// class under an identity of its own (LocalServer.h). COM starts it with "/Class {CLSID}
// -Embedding" (the class part comes from its registration), so every simulated server runs in a
// process of its own; it serves one activation, runs the simulator's objects on its apartment
// thread while it pumps messages, and exits when its last object is released.
//   opcsim-server.exe /RegServer | /UnregServer     writes or removes the registry entries
// Given with /RegServer, these go into the registered command line:
//   /MultipleUse    the class object serves every client that asks (REGCLS_MULTIPLEUSE) instead
//                   of one activation
//   /Linger <ms>    with /MultipleUse: once the last object is released the process is stopping;
//                   its class object, still handed out, refuses to make objects
//                   (CO_E_SERVER_STOPPING) for this long before it is revoked and the process
//                   exits
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
  bool multipleUse = false;
  DWORD lingerMs = 0;
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
    if (Is(argv[i], L"MultipleUse")) options.multipleUse = true;
    if (Is(argv[i], L"Linger") && i + 1 < argc) options.lingerMs = wcstoul(argv[++i], nullptr, 10);
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

int Register(const Options& options) {
  const std::wstring exe = opcsim::ModulePath().wstring();
  std::wstring serving;
  if (options.multipleUse) serving += L" /MultipleUse";
  if (options.lingerMs > 0) serving += L" /Linger " + std::to_wstring(options.lingerMs);
  for (const auto& device : opcsim::SimRegistry::Instance().Devices()) {
    const std::wstring commandLine =
        L"\"" + exe + L"\" /Class " +
        std::wstring(device->ClsidText().begin(), device->ClsidText().end()) + serving;
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

// Counted at creation, so a client done between two checks is seen too.
bool ServedAndIdle(size_t classObjects) {
  return opcsim::ServersCreated() > 0 && opcsim::LiveObjects() <= static_cast<long>(classObjects) &&
         opcsim::ServerLocks() == 0;
}

// Pumps messages (the simulator's timers and COM's calls) until the process has served its
// objects and the last one is gone, or was never asked for.
void Serve(size_t classObjects, bool multipleUse) {
  const UINT_PTR timer = SetTimer(nullptr, 0, kCheckPeriodMs, nullptr);
  const DWORD started = GetTickCount();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == timer) {
      if (ServedAndIdle(classObjects) ||
          (opcsim::ServersCreated() == 0 && GetTickCount() - started > kUnusedLifetimeMs))
        break;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    // For many clients, the process decides to end the moment its last object goes, as such
    // servers do: no client may have a new object from then on.
    if (multipleUse && ServedAndIdle(classObjects)) break;
  }
  KillTimer(nullptr, timer);
}

// Stopping: the class objects stay registered, and refuse, for lingerMs while calls are served.
void Linger(DWORD lingerMs) {
  opcsim::Stopping() = true;
  const DWORD started = GetTickCount();
  for (DWORD elapsed = 0; elapsed < lingerMs; elapsed = GetTickCount() - started) {
    if (MsgWaitForMultipleObjectsEx(0, nullptr, lingerMs - elapsed, QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0)
      continue;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
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
  if (options.regServer) return Register(options);
  if (options.unregServer) return Unregister();
  opcsim::LocalClassObjects classObjects;
  if (FAILED(classObjects.Register(options.hasClass ? &options.onlyClass : nullptr,
                                   options.multipleUse)))
    return 2;
  Serve(classObjects.Count(), options.multipleUse);
  if (options.multipleUse) Linger(options.lingerMs);
  return 0;
}
