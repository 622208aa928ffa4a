// The simulator's entry points: load the servers' definitions, hand out their
// class objects (for DllGetClassObject), and register them with this process's
// COM runtime (natively, the stand-in's class-object table, so CoCreateInstance
// finds them).
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "ComApi.h"

namespace opcsim {

// Adds the servers of a configuration (JSON text or a UTF-8 file). False with a
// message on error.
bool LoadConfig(const std::u16string& text, std::u16string& error);
bool LoadConfigFile(const std::filesystem::path& path, std::u16string& error);

// A class object of a loaded server; CLASS_E_CLASSNOTAVAILABLE for an unknown
// class.
HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);

// True when no simulator object is alive and no server lock is held.
bool CanUnload();

// Server objects the class objects of this process have handed out.
std::atomic<long>& ServersCreated();

// Set by a local server on its way out: its class objects, which COM may still hand to clients,
// refuse to make objects (CO_E_SERVER_STOPPING).
std::atomic<bool>& Stopping();

// Registers every loaded server's class object with CoRegisterClassObject for
// as long as the object lives.
class ClassObjectRegistration {
 public:
  ClassObjectRegistration() = default;
  ~ClassObjectRegistration() { Revoke(); }
  ClassObjectRegistration(const ClassObjectRegistration&) = delete;
  ClassObjectRegistration& operator=(const ClassObjectRegistration&) = delete;

  HRESULT Register();
  void Revoke();

 private:
  std::vector<DWORD> cookies_;
};

}  // namespace opcsim
