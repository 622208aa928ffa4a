#include "SimTestSupport.h"

#ifndef _WIN32
#include "OpcSim.h"
#endif

namespace simtest {

void EnsureServersAvailable() {
#ifndef _WIN32
  // Natively the simulator's class objects go into the stand-in's table, as a registered
  // in-process server would be found by the real runtime.
  struct NativeServers {
    opcsim::ClassObjectRegistration registration;
    NativeServers() {
      std::u16string error;
      if (!opcsim::LoadConfigFile(OPCSIM_TEST_CONFIG, error))
        ADD_FAILURE() << "configuration: " << Narrow(error);
      EXPECT_EQ(registration.Register(), S_OK);
    }
  };
  static NativeServers servers;
#endif
}

HRESULT CreateServer(const CLSID& clsid, ComPtr<IOPCServer>& server) {
  EnsureServersAvailable();
  ComPtr<IUnknown> object;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IUnknown, reinterpret_cast<void**>(object.GetAddressOf()));
  if (FAILED(hr)) return hr;
  return object.As(&server);
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return false;
#ifdef _WIN32
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
#else
    tagrelay::com::DispatchDueTimers();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
#endif
  }
  return true;
}

void PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

void SimTest::SetUp() {
  CoInitialize(nullptr);
  server_ = OpenServer(kPlantServer);
  ASSERT_TRUE(server_);
  ASSERT_EQ(server_.As(&control_), S_OK);
  ASSERT_EQ(control_->Reset(), S_OK);
}

void SimTest::TearDown() {
  control_.Reset();
  server_.Reset();
  CoUninitialize();
}

ComPtr<IOPCServer> SimTest::OpenServer(const CLSID& clsid) {
  ComPtr<IOPCServer> server;
  EXPECT_EQ(CreateServer(clsid, server), S_OK);
  return server;
}

ComPtr<IOPCItemMgt> AddGroup(IOPCServer* server, const std::u16string& name, DWORD rate,
                             OPCHANDLE* handle, OPCHANDLE clientHandle) {
  OPCHANDLE serverHandle = 0;
  DWORD revised = 0;
  ComPtr<IOPCItemMgt> group;
  const HRESULT hr = server->AddGroup(U16ToOle(name), TRUE, rate, clientHandle, nullptr, nullptr, 0,
                                      &serverHandle, &revised, IID_IOPCItemMgt,
                                      reinterpret_cast<LPUNKNOWN*>(group.GetAddressOf()));
  EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
  if (handle) *handle = serverHandle;
  return group;
}

HRESULT AddItems(IOPCItemMgt* group, const std::vector<std::u16string>& ids,
                 std::vector<AddedItem>& added, const std::vector<VARTYPE>& requested) {
  std::vector<std::u16string> paths(ids.size());  // empty access paths, never NULL
  std::vector<std::u16string> names = ids;
  std::vector<OPCITEMDEF> defs(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    defs[i] = OPCITEMDEF{};
    defs[i].szAccessPath = const_cast<LPWSTR>(U16ToOle(paths[i]));
    defs[i].szItemID = const_cast<LPWSTR>(U16ToOle(names[i]));
    defs[i].bActive = TRUE;
    defs[i].hClient = static_cast<OPCHANDLE>(100 + i);
    defs[i].vtRequestedDataType = i < requested.size() ? requested[i] : VARTYPE{VT_EMPTY};
  }
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  const HRESULT hr =
      group->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
  added.assign(ids.size(), AddedItem{});
  if (FAILED(hr)) {
    EXPECT_EQ(results, nullptr);
    EXPECT_EQ(errors, nullptr);
    return hr;
  }
  for (size_t i = 0; i < ids.size(); ++i) {
    added[i] = AddedItem{errors[i], results[i].hServer, results[i].vtCanonicalDataType,
                         results[i].dwAccessRights};
    CoTaskMemFree(results[i].pBlob);
  }
  CoTaskMemFree(results);
  CoTaskMemFree(errors);
  return hr;
}

HRESULT Read(IOPCItemMgt* group, OPCDATASOURCE source, const std::vector<OPCHANDLE>& handles,
             std::vector<ReadItem>& items) {
  ComPtr<IOPCSyncIO> io;
  EXPECT_EQ(group->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(io.GetAddressOf())),
            S_OK);
  std::vector<OPCHANDLE> copy = handles;
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  const HRESULT hr =
      io->Read(source, static_cast<DWORD>(copy.size()), copy.data(), &states, &errors);
  items.assign(handles.size(), ReadItem{});
  if (FAILED(hr)) return hr;
  for (size_t i = 0; i < handles.size(); ++i) {
    ReadItem& item = items[i];
    item.error = errors[i];
    item.client = states[i].hClient;
    item.vt = states[i].vDataValue.vt;
    item.quality = states[i].wQuality;
    item.textResult = VariantToText(states[i].vDataValue, item.text);
    VariantClear(&states[i].vDataValue);
  }
  CoTaskMemFree(states);
  CoTaskMemFree(errors);
  return hr;
}

HRESULT Browse(IOPCServer* server, OPCBROWSETYPE type, std::vector<std::u16string>& names,
               const std::u16string& filter, VARTYPE vt, DWORD rights) {
  names.clear();
  ComPtr<IOPCBrowseServerAddressSpace> browser;
  EXPECT_EQ(server->QueryInterface(IID_IOPCBrowseServerAddressSpace,
                                   reinterpret_cast<void**>(browser.GetAddressOf())),
            S_OK);
  ComPtr<IEnumString> enumerator;
  const HRESULT hr =
      browser->BrowseOPCItemIDs(type, U16ToOle(filter), vt, rights, enumerator.GetAddressOf());
  if (FAILED(hr)) {
    EXPECT_EQ(enumerator, nullptr);
    return hr;
  }
  if (!enumerator) return E_POINTER;
  enumerator->Reset();
  LPOLESTR name = nullptr;
  ULONG fetched = 0;
  while (enumerator->Next(1, &name, &fetched) == S_OK && fetched == 1) {
    names.push_back(OleToU16(name));
    CoTaskMemFree(name);
  }
  return hr;
}

std::u16string ItemId(IOPCServer* server, const std::u16string& name) {
  ComPtr<IOPCBrowseServerAddressSpace> browser;
  server->QueryInterface(IID_IOPCBrowseServerAddressSpace,
                         reinterpret_cast<void**>(browser.GetAddressOf()));
  std::u16string copy = name;
  LPWSTR id = nullptr;
  if (FAILED(browser->GetItemID(const_cast<LPWSTR>(U16ToOle(copy)), &id))) return u"<failed>";
  std::u16string text = OleToU16(id);
  CoTaskMemFree(id);
  return text;
}

HRESULT Move(IOPCServer* server, OPCBROWSEDIRECTION direction, const std::u16string& name) {
  ComPtr<IOPCBrowseServerAddressSpace> browser;
  server->QueryInterface(IID_IOPCBrowseServerAddressSpace,
                         reinterpret_cast<void**>(browser.GetAddressOf()));
  return browser->ChangeBrowsePosition(direction, U16ToOle(name));
}

VARIANT TextValue(const std::u16string& text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = U16ToBstr(text);
  return v;
}

VARIANT IntValue(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

VARIANT RealValue(double value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = value;
  return v;
}

std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

HRESULT STDMETHODCALLTYPE TestSink::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IOPCDataCallback))
    return E_NOINTERFACE;
  *ppv = static_cast<IOPCDataCallback*>(this);
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE TestSink::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE TestSink::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup,
                                                 HRESULT hrMasterquality, HRESULT hrMastererror,
                                                 DWORD dwCount, OPCHANDLE* phClientItems,
                                                 VARIANT* pvValues, WORD* pwQualities,
                                                 FILETIME* pftTimeStamps, HRESULT* pErrors) {
  Change change;
  change.transid = dwTransid;
  change.group = hGroup;
  change.masterQuality = hrMasterquality;
  change.masterError = hrMastererror;
  change.thread = std::this_thread::get_id();
  for (DWORD i = 0; i < dwCount; ++i) {
    std::u16string text;
    change.handles.push_back(phClientItems[i]);
    change.textResults.push_back(VariantToText(pvValues[i], text));
    change.texts.push_back(text);
    change.qualities.push_back(pwQualities[i]);
    change.errors.push_back(pErrors[i]);
    change.times.push_back((static_cast<uint64_t>(pftTimeStamps[i].dwHighDateTime) << 32) |
                           pftTimeStamps[i].dwLowDateTime);
  }
  changes.push_back(std::move(change));
  return S_OK;
}

HRESULT Advise(IUnknown* group, IOPCDataCallback* sink, DWORD& cookie) {
  ComPtr<IConnectionPointContainer> container;
  HRESULT hr = group->QueryInterface(IID_IConnectionPointContainer,
                                     reinterpret_cast<void**>(container.GetAddressOf()));
  if (FAILED(hr)) return hr;
  ComPtr<IConnectionPoint> point;
  hr = container->FindConnectionPoint(IID_IOPCDataCallback, point.GetAddressOf());
  if (FAILED(hr)) return hr;
  return point->Advise(sink, &cookie);
}

HRESULT Unadvise(IUnknown* group, DWORD cookie) {
  ComPtr<IConnectionPointContainer> container;
  HRESULT hr = group->QueryInterface(IID_IConnectionPointContainer,
                                     reinterpret_cast<void**>(container.GetAddressOf()));
  if (FAILED(hr)) return hr;
  ComPtr<IConnectionPoint> point;
  hr = container->FindConnectionPoint(IID_IOPCDataCallback, point.GetAddressOf());
  if (FAILED(hr)) return hr;
  return point->Unadvise(cookie);
}

}  // namespace simtest
