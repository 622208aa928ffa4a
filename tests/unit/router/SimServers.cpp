#include "SimServers.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "RegistryFill.h"
#ifndef _WIN32
#include "OpcSim.h"
#endif

namespace SimServers {

#ifndef _WIN32
namespace {

// Loads the default configuration once and keeps its class objects registered for the whole run;
// revoked before the COM runtime's own statics go.
class TSimEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::u16string Error;
    if (!opcsim::LoadConfigFile(OPCSIM_CONFIG, Error)) {
      fprintf(stderr, "opcsim configuration: %s\n",
              std::string(Error.begin(), Error.end()).c_str());
      return;
    }
    if (const HRESULT Hr = Registration.Register(); FAILED(Hr)) {
      fprintf(stderr, "opcsim registration: 0x%08x\n", static_cast<unsigned>(Hr));
      return;
    }
    for (const auto& [ProgId, ClassId] :
         {std::pair{MainProgId, MainClassId}, std::pair{EdgeProgId, EdgeClassId}}) {
      RegistryFill::CreateKey(u"Software\\Classes\\" + ProgId + u"\\OPC");
      RegistryFill::SetDefaultString(u"Software\\Classes\\" + ProgId + u"\\CLSID", ClassId);
    }
    Ready = true;
  }
  void TearDown() override { Registration.Revoke(); }

  bool Ready = false;

 private:
  opcsim::ClassObjectRegistration Registration;
};

TSimEnvironment* const Environment =
    static_cast<TSimEnvironment*>(::testing::AddGlobalTestEnvironment(new TSimEnvironment));

}  // namespace
#endif

bool Ensure() {
#ifdef _WIN32
  return true;  // registered in the prefix by regsvr32 (the COMREG fixture)
#else
  return Environment->Ready;
#endif
}

TControl::TControl() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  CLSID Clsid;
  if (FAILED(CLSIDFromString(U16ToOle(MainClassId), &Clsid))) return;
  CoCreateInstance(Clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOpcSimControl,
                   reinterpret_cast<void**>(Control.GetAddressOf()));
}

TControl::~TControl() {
  if (Control) Control->Reset();
  Control.Reset();
  CoUninitialize();
}

void TControl::SetFaults(const std::u16string& Json) {
  Control->SetFaults(U16ToOle(Json));
}

void TControl::Reset() {
  Control->Reset();
}

unsigned long TControl::CallCount(const std::u16string& Method) {
  DWORD Count = 0;
  Control->GetCallCount(U16ToOle(Method), &Count);
  return Count;
}

}  // namespace SimServers
