#include "LocalServer.h"

#include <cwchar>

#include "OpcSim.h"
#include "SimDevice.h"

namespace opcsim {

void MakeLocalIdentity(SimServerDef& server) {
  ++server.clsid.Data1;
  wchar_t text[40];
  StringFromGUID2(server.clsid, text, 40);
  server.clsidText.assign(text, text + wcslen(text));

  const size_t dot = server.progId.rfind(u'.');
  bool versioned = dot != std::u16string::npos && dot + 1 < server.progId.size();
  for (size_t i = dot + 1; versioned && i < server.progId.size(); ++i)
    versioned = server.progId[i] >= u'0' && server.progId[i] <= u'9';
  if (versioned)
    server.progId.insert(dot, u"Local");
  else
    server.progId += u"Local";
}

HRESULT LocalClassObjects::Register(const CLSID* only, bool multipleUse) {
  Revoke();
  for (const auto& device : SimRegistry::Instance().Devices()) {
    if (only && !IsEqualCLSID(*only, device->Clsid())) continue;
    Microsoft::WRL::ComPtr<IUnknown> factory;
    HRESULT hr = GetClassObject(device->Clsid(), IID_IUnknown,
                                reinterpret_cast<void**>(factory.GetAddressOf()));
    DWORD cookie = 0;
    if (SUCCEEDED(hr))
      hr = CoRegisterClassObject(device->Clsid(), factory.Get(), CLSCTX_LOCAL_SERVER,
                                 multipleUse ? REGCLS_MULTIPLEUSE : REGCLS_SINGLEUSE, &cookie);
    if (FAILED(hr)) {
      Revoke();
      return hr;
    }
    cookies_.push_back(cookie);
  }
  return cookies_.empty() ? CLASS_E_CLASSNOTAVAILABLE : S_OK;
}

void LocalClassObjects::Revoke() {
  for (DWORD cookie : cookies_) CoRevokeClassObject(cookie);
  cookies_.clear();
}

}  // namespace opcsim
