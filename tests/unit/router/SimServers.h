// The simulated OPC servers of opcsim as the router's tests meet them: registered for discovery and
// with COM (natively in this process, under Wine by the COMREG fixture), and switched through
// their control interface.
#pragma once

#include <string>

#include "ComApi.h"
#include "SimControl.h"

namespace SimServers {

inline const std::u16string MainProgId = u"Tagrelay.OpcSim.1";
inline const std::u16string MainClassId = u"{12226D95-F79B-42B9-BF2E-69408C20B162}";
inline const std::u16string EdgeProgId = u"Tagrelay.OpcSimEdge.1";
inline const std::u16string EdgeClassId = u"{AB357784-DE10-4308-97FA-F9125F50728C}";

// Makes both servers of the default configuration reachable; false when they cannot be.
bool Ensure();

// The control interface of the main server, on the calling thread's apartment.
class TControl {
 public:
  TControl();
  ~TControl();
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  bool Ok() const { return Control != nullptr; }
  void SetFaults(const std::u16string& Json);
  void Reset();
  unsigned long CallCount(const std::u16string& Method);

 private:
  Microsoft::WRL::ComPtr<IOpcSimControl> Control;
};

}  // namespace SimServers
