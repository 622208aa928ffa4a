#include "OpcSim.h"

#include "SimServer.h"

namespace opcsim {

std::atomic<long>& LiveObjects() {
  static std::atomic<long> count{0};
  return count;
}

std::atomic<long>& ServerLocks() {
  static std::atomic<long> count{0};
  return count;
}

std::atomic<long>& ServersCreated() {
  static std::atomic<long> count{0};
  return count;
}

std::atomic<bool>& Stopping() {
  static std::atomic<bool> stopping{false};
  return stopping;
}

namespace {

class SimClassFactory final : public IClassFactory {
 public:
  explicit SimClassFactory(std::shared_ptr<SimDevice> device) : device_(std::move(device)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (OfferInterface<IClassFactory>(riid, IID_IUnknown, this, ppv) ||
        OfferInterface<IClassFactory>(riid, IID_IClassFactory, this, ppv))
      return S_OK;
    return E_NOINTERFACE;
  }
  OPCSIM_REFCOUNTED

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (Stopping()) return CO_E_SERVER_STOPPING;
    auto* server = new SimServer(device_);
    const HRESULT hr = server->QueryInterface(riid, ppv);
    server->Release();
    if (SUCCEEDED(hr)) ++ServersCreated();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      ++ServerLocks();
    else
      --ServerLocks();
    return S_OK;
  }

 private:
  ~SimClassFactory() = default;

  RefCount refs_;
  std::shared_ptr<SimDevice> device_;
};

}  // namespace

bool LoadConfig(const std::u16string& text, std::u16string& error) {
  return SimRegistry::Instance().Load(text, error);
}

bool LoadConfigFile(const std::filesystem::path& path, std::u16string& error) {
  std::u16string text;
  if (!ReadTextFile(path, text)) {
    error = u"cannot read the configuration file";
    return false;
  }
  return LoadConfig(text, error);
}

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  std::shared_ptr<SimDevice> device = SimRegistry::Instance().Find(clsid);
  if (!device) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new SimClassFactory(device);
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

bool CanUnload() {
  return LiveObjects() == 0 && ServerLocks() == 0;
}

HRESULT ClassObjectRegistration::Register() {
  Revoke();
  for (const auto& device : SimRegistry::Instance().Devices()) {
    Microsoft::WRL::ComPtr<IUnknown> factory;
    HRESULT hr = GetClassObject(device->Clsid(), IID_IUnknown,
                                reinterpret_cast<void**>(factory.GetAddressOf()));
    DWORD cookie = 0;
    if (SUCCEEDED(hr))
      hr = CoRegisterClassObject(device->Clsid(), factory.Get(), CLSCTX_INPROC_SERVER,
                                 REGCLS_MULTIPLEUSE, &cookie);
    if (FAILED(hr)) {
      Revoke();
      return hr;
    }
    cookies_.push_back(cookie);
  }
  return S_OK;
}

void ClassObjectRegistration::Revoke() {
  for (DWORD cookie : cookies_) CoRevokeClassObject(cookie);
  cookies_.clear();
}

}  // namespace opcsim
