// What opcsim-server.exe adds to the simulator core: identities of its own for the simulated
// servers, so a prefix can hold the in-process and the out-of-process classes side by side, and
// the registration of their class objects: by default COM hands each out once, so that every
// activation starts a new process (a server killed by a test can then be started again); for
// many clients, as most real servers register them, on request.
#pragma once

#include <vector>

#include "SimConfig.h"

namespace opcsim {

// The out-of-process class of a configured server: the class identifier's first field plus one,
// and "Local" before the version of the program identifier ("Tagrelay.OpcSim.1" becomes
// "Tagrelay.OpcSimLocal.1"; one without a numeric version gets "Local" at its end).
void MakeLocalIdentity(SimServerDef& server);

// Registers loaded servers' class objects for local activation, for as long as the object lives:
// every server, or only `only` when it is not null; single use, or for many clients.
class LocalClassObjects {
 public:
  LocalClassObjects() = default;
  ~LocalClassObjects() { Revoke(); }
  LocalClassObjects(const LocalClassObjects&) = delete;
  LocalClassObjects& operator=(const LocalClassObjects&) = delete;

  HRESULT Register(const CLSID* only, bool multipleUse);
  void Revoke();
  size_t Count() const { return cookies_.size(); }

 private:
  std::vector<DWORD> cookies_;
};

}  // namespace opcsim
