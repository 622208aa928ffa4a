#include "ComSecurity.h"

#include <objbase.h>
#include <wrl/client.h>

TComSecurity::TComSecurity() {
  FComInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  FResult = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                                 RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
  LetFaultsThrough();
}

// By default COM catches a fault inside an incoming call (a server calling the data-change sink
// back) and answers RPC_E_SERVERFAULT, leaving the process running in whatever state the fault
// left behind. Turned off, the fault reaches the crash records like any other.
void TComSecurity::LetFaultsThrough() {
  Microsoft::WRL::ComPtr<IGlobalOptions> Options;
  if (FAILED(CoCreateInstance(CLSID_GlobalOptions, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&Options))))
    return;
  Options->Set(COMGLB_EXCEPTION_HANDLING, COMGLB_EXCEPTION_DONOT_HANDLE_ANY);
}

TComSecurity::~TComSecurity() {
  if (FComInitialized) CoUninitialize();
}

std::u16string ComSecurityFailureText(HRESULT Result) {
  static const char Digits[] = "0123456789ABCDEF";
  std::u16string Text = u"COM security not set, 0x";
  const auto Bits = static_cast<unsigned long>(Result);
  for (int Shift = 28; Shift >= 0; Shift -= 4) Text.push_back(Digits[(Bits >> Shift) & 0xF]);
  return Text;
}
