// opcsim.dll: the in-process COM server (ThreadingModel Apartment) for the
// simulated servers of its configuration file.
#include <mutex>
#include <set>

#include "OpcSim.h"
#include "SimRegistration.h"
#include "SimServerThread.h"
#include "SimTimer.h"

namespace {

std::mutex g_loadMutex;
std::set<std::filesystem::path> g_loaded;

// Loads a configuration file once per process.
bool EnsureLoaded(const std::filesystem::path& path) {
  std::lock_guard<std::mutex> lock(g_loadMutex);
  if (g_loaded.count(path)) return true;
  std::u16string error;
  if (!opcsim::LoadConfigFile(path, error)) return false;
  g_loaded.insert(path);
  return true;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // A window class outlives the DLL; release it when the DLL is unloaded (not
  // at process exit), so a later load registers it again with its own window
  // procedure.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) opcsim::ReleaseTimerWindowClass();
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // A configuration named in the loading program's environment wins over the one recorded at
  // registration, so one program can be given a simulator of its own.
  std::filesystem::path config = opcsim::EnvironmentConfigPath();
  if (config.empty()) config = opcsim::RegisteredConfigPath(rclsid);
  if (config.empty()) config = opcsim::DefaultConfigPath();
  if (!EnsureLoaded(config)) return CLASS_E_CLASSNOTAVAILABLE;
  return opcsim::GetClassObject(rclsid, riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  if (!opcsim::CanUnload()) return S_FALSE;
  // With the unloadWaitsForThread fault the server's own thread runs; it ends before the unload.
  opcsim::SimServerThread::Instance().Stop();
  return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  const std::filesystem::path config = opcsim::DefaultConfigPath();
  if (!EnsureLoaded(config)) return SELFREG_E_CLASS;
  for (const auto& device : opcsim::SimRegistry::Instance().Devices()) {
    const HRESULT hr = opcsim::RegisterServer(*device, opcsim::ModulePath(), config);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  if (!EnsureLoaded(opcsim::DefaultConfigPath())) return SELFREG_E_CLASS;
  for (const auto& device : opcsim::SimRegistry::Instance().Devices())
    opcsim::UnregisterServer(*device);
  return S_OK;
}
