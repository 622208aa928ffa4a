#include "ComSecurity.h"

#include <objbase.h>

TComSecurity::TComSecurity() {
  FComInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  FResult = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                                 RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
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
