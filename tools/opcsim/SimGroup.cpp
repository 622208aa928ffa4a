#include "SimGroup.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "SimServerThread.h"

namespace opcsim {

namespace {

template <typename T>
T* AllocArray(DWORD count) {
  return static_cast<T*>(CoTaskMemAlloc(sizeof(T) * (count ? count : 1)));
}

bool IsGood(WORD quality) {
  return (quality & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD;
}

bool IsValidItemId(LPCWSTR id) {
  if (!id || !id[0]) return false;
  for (LPCWSTR c = id; *c; ++c)
    if (*c < 0x20) return false;
  return true;
}

// The value in the client's requested type (the canonical one for VT_EMPTY).
HRESULT ToRequested(const SimValue& value, VARTYPE requested, LCID lcid, VARIANT& out) {
  VariantInit(&out);
  if (requested == VT_EMPTY || requested == value.Type()) return value.CopyTo(out);
  return VariantChangeTypeEx(&out, const_cast<VARIANT*>(&value.Get()), lcid, 0, requested);
}

// Allocates the per-item error array of a call; both outputs are NULL when that
// fails.
HRESULT StartErrors(DWORD count, HRESULT** ppErrors) {
  *ppErrors = AllocArray<HRESULT>(count);
  return *ppErrors ? S_OK : E_OUTOFMEMORY;
}

HRESULT Overall(const HRESULT* errors, DWORD count) {
  for (DWORD i = 0; i < count; ++i)
    if (errors[i] != S_OK) return S_FALSE;
  return S_OK;
}

}  // namespace

SimGroup::SimGroup(std::shared_ptr<SimServerCore> core, SimGroupSettings settings)
    : core_(std::move(core)), device_(core_->device), settings_(std::move(settings)) {}

SimGroup::~SimGroup() {
  timer_.Stop();
}

DWORD SimGroup::ReviseRate(DWORD requested) {
  if (requested < 10) return 10;
  if (requested > 0xFFFFFFFFu - 9) return requested;
  return (requested + 9) / 10 * 10;
}

void SimGroup::MarkDeleted() {
  deleted_ = true;
  timer_.Stop();
  sink_.Reset();
  cookie_ = 0;
  items_.clear();
}

bool SimGroup::EnterCall(const char* method) {
  core_->EnterCall(method);
  return !deleted_;
}

HRESULT STDMETHODCALLTYPE SimGroup::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (OfferInterface<IOPCItemMgt>(riid, IID_IUnknown, this, ppv) ||
      OfferInterface<IOPCItemMgt>(riid, IID_IOPCItemMgt, this, ppv) ||
      OfferInterface<IOPCSyncIO>(riid, IID_IOPCSyncIO, this, ppv) ||
      OfferInterface<IOPCGroupStateMgt>(riid, IID_IOPCGroupStateMgt, this, ppv) ||
      OfferInterface<IConnectionPointContainer>(riid, IID_IConnectionPointContainer, this, ppv))
    return S_OK;
  return E_NOINTERFACE;
}

// ---------------------------------------------------------------- items
HRESULT SimGroup::CheckItem(const OPCITEMDEF& def, std::shared_ptr<SimLeaf>& leaf,
                            SimSample& sample) {
  if (!IsValidItemId(def.szItemID)) return OPC_E_INVALIDITEMID;
  leaf = device_->Space()->FindItem(OleToU16(def.szItemID));
  if (!leaf) return OPC_E_UNKNOWNITEMID;
  sample = device_->Read(*leaf);
  if (def.vtRequestedDataType != VT_EMPTY) {
    VARIANT converted;
    const HRESULT hr =
        ToRequested(sample.value, def.vtRequestedDataType, settings_.lcid, converted);
    VariantClear(&converted);
    if (FAILED(hr)) return OPC_E_BADTYPE;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray,
                                             OPCITEMRESULT** ppAddResults, HRESULT** ppErrors) {
  if (!ppAddResults || !ppErrors) return E_POINTER;
  *ppAddResults = nullptr;
  *ppErrors = nullptr;
  if (!EnterCall("AddItems")) return E_FAIL;
  if (dwCount == 0 || !pItemArray) return E_INVALIDARG;
  if (device_->Faults().addItemsFails) return E_FAIL;
  const HRESULT hr = CheckItems(dwCount, pItemArray, ppAddResults, ppErrors);
  if (FAILED(hr)) return hr;
  for (DWORD i = 0; i < dwCount; ++i) {
    if (FAILED((*ppErrors)[i])) continue;
    Item item;
    item.itemId = OleToU16(pItemArray[i].szItemID);
    item.leaf = device_->Space()->FindItem(item.itemId);
    item.clientHandle = pItemArray[i].hClient;
    item.active = pItemArray[i].bActive ? TRUE : FALSE;
    item.requested = pItemArray[i].vtRequestedDataType;
    const OPCHANDLE handle = ++lastItemHandle_;
    items_[handle] = std::move(item);
    (*ppAddResults)[i].hServer = handle;
  }
  return hr;
}

HRESULT STDMETHODCALLTYPE SimGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL,
                                                  OPCITEMRESULT** ppValidationResults,
                                                  HRESULT** ppErrors) {
  if (!ppValidationResults || !ppErrors) return E_POINTER;
  *ppValidationResults = nullptr;
  *ppErrors = nullptr;
  if (!EnterCall("ValidateItems")) return E_FAIL;
  if (dwCount == 0 || !pItemArray) return E_INVALIDARG;
  return CheckItems(dwCount, pItemArray, ppValidationResults, ppErrors);
}

HRESULT SimGroup::CheckItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppResults,
                             HRESULT** ppErrors) {
  auto* results = AllocArray<OPCITEMRESULT>(dwCount);
  auto* errors = AllocArray<HRESULT>(dwCount);
  if (!results || !errors) {
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }
  for (DWORD i = 0; i < dwCount; ++i) {
    results[i] = OPCITEMRESULT{};
    std::shared_ptr<SimLeaf> leaf;
    SimSample sample;
    errors[i] = CheckItem(pItemArray[i], leaf, sample);
    if (SUCCEEDED(errors[i])) {
      results[i].vtCanonicalDataType = leaf->type;
      results[i].dwAccessRights = leaf->access;
    }
  }
  *ppResults = results;
  *ppErrors = errors;
  return Overall(errors, dwCount);
}

HRESULT STDMETHODCALLTYPE SimGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer,
                                                HRESULT** ppErrors) {
  if (!ppErrors) return E_POINTER;
  *ppErrors = nullptr;
  if (!EnterCall("RemoveItems")) return E_FAIL;
  if (dwCount == 0 || !phServer) return E_INVALIDARG;
  if (FAILED(StartErrors(dwCount, ppErrors))) return E_OUTOFMEMORY;
  for (DWORD i = 0; i < dwCount; ++i)
    (*ppErrors)[i] = items_.erase(phServer[i]) ? S_OK : OPC_E_INVALIDHANDLE;
  return Overall(*ppErrors, dwCount);
}

HRESULT STDMETHODCALLTYPE SimGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                                   HRESULT** ppErrors) {
  if (!ppErrors) return E_POINTER;
  *ppErrors = nullptr;
  if (!EnterCall("SetActiveState")) return E_FAIL;
  if (dwCount == 0 || !phServer) return E_INVALIDARG;
  if (FAILED(StartErrors(dwCount, ppErrors))) return E_OUTOFMEMORY;
  for (DWORD i = 0; i < dwCount; ++i) {
    auto it = items_.find(phServer[i]);
    (*ppErrors)[i] = it == items_.end() ? OPC_E_INVALIDHANDLE : S_OK;
    if (it == items_.end()) continue;
    if (bActive && !it->second.active) it->second.owed = true;  // sent at the next period
    it->second.active = bActive ? TRUE : FALSE;
  }
  return Overall(*ppErrors, dwCount);
}

HRESULT STDMETHODCALLTYPE SimGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer,
                                                     OPCHANDLE* phClient, HRESULT** ppErrors) {
  if (!ppErrors) return E_POINTER;
  *ppErrors = nullptr;
  if (!EnterCall("SetClientHandles")) return E_FAIL;
  if (dwCount == 0 || !phServer || !phClient) return E_INVALIDARG;
  if (FAILED(StartErrors(dwCount, ppErrors))) return E_OUTOFMEMORY;
  for (DWORD i = 0; i < dwCount; ++i) {
    auto it = items_.find(phServer[i]);
    (*ppErrors)[i] = it == items_.end() ? OPC_E_INVALIDHANDLE : S_OK;
    if (it != items_.end()) it->second.clientHandle = phClient[i];
  }
  return Overall(*ppErrors, dwCount);
}

HRESULT STDMETHODCALLTYPE SimGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer,
                                                 VARTYPE* pRequestedDatatypes, HRESULT** ppErrors) {
  if (!ppErrors) return E_POINTER;
  *ppErrors = nullptr;
  if (!EnterCall("SetDatatypes")) return E_FAIL;
  if (dwCount == 0 || !phServer || !pRequestedDatatypes) return E_INVALIDARG;
  if (FAILED(StartErrors(dwCount, ppErrors))) return E_OUTOFMEMORY;
  for (DWORD i = 0; i < dwCount; ++i) {
    auto it = items_.find(phServer[i]);
    if (it == items_.end()) {
      (*ppErrors)[i] = OPC_E_INVALIDHANDLE;
      continue;
    }
    VARIANT converted;
    const SimSample sample = device_->Read(*it->second.leaf);
    const HRESULT hr = ToRequested(sample.value, pRequestedDatatypes[i], settings_.lcid, converted);
    VariantClear(&converted);
    (*ppErrors)[i] = FAILED(hr) ? OPC_E_BADTYPE : S_OK;  // a refused type keeps the old one
    if (SUCCEEDED(hr)) it->second.requested = pRequestedDatatypes[i];
  }
  return Overall(*ppErrors, dwCount);
}

HRESULT STDMETHODCALLTYPE SimGroup::CreateEnumerator(REFIID, LPUNKNOWN* ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  return E_NOTIMPL;
}

// ---------------------------------------------------------------- synchronous
// I/O
HRESULT STDMETHODCALLTYPE SimGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                         OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
  if (!ppItemValues || !ppErrors) return E_POINTER;
  *ppItemValues = nullptr;
  *ppErrors = nullptr;
  if (!EnterCall("Read")) return E_FAIL;
  if (dwCount == 0 || !phServer || (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE))
    return E_INVALIDARG;
  auto* states = AllocArray<OPCITEMSTATE>(dwCount);
  auto* errors = AllocArray<HRESULT>(dwCount);
  if (!states || !errors) {
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }
  for (DWORD i = 0; i < dwCount; ++i) {
    OPCITEMSTATE& state = states[i];
    state = OPCITEMSTATE{};
    VariantInit(&state.vDataValue);
    auto it = items_.find(phServer[i]);
    if (it == items_.end()) {
      errors[i] = OPC_E_INVALIDHANDLE;
      continue;
    }
    const Item& item = it->second;
    state.hClient = item.clientHandle;
    if (!(item.leaf->access & OPC_READABLE)) {
      errors[i] = OPC_E_BADRIGHTS;
      continue;
    }
    const SimSample sample = device_->Read(*item.leaf);
    errors[i] = ToRequested(sample.value, item.requested, settings_.lcid, state.vDataValue);
    state.ftTimeStamp = sample.timestamp;
    state.wQuality = sample.quality;
    if (FAILED(errors[i])) state.wQuality = OPC_QUALITY_BAD;
    // From the cache a value is current only while both the group and the item
    // are active.
    if (SUCCEEDED(errors[i]) && dwSource == OPC_DS_CACHE && (!settings_.active || !item.active))
      state.wQuality = OPC_QUALITY_OUT_OF_SERVICE;
  }
  *ppItemValues = states;
  *ppErrors = errors;
  return Overall(errors, dwCount);
}

HRESULT STDMETHODCALLTYPE SimGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                          HRESULT** ppErrors) {
  if (!ppErrors) return E_POINTER;
  *ppErrors = nullptr;
  if (!EnterCall("Write")) return E_FAIL;
  if (dwCount == 0 || !phServer || !pItemValues) return E_INVALIDARG;
  if (FAILED(StartErrors(dwCount, ppErrors))) return E_OUTOFMEMORY;
  for (DWORD i = 0; i < dwCount; ++i) {
    auto it = items_.find(phServer[i]);
    (*ppErrors)[i] = it == items_.end()
                         ? OPC_E_INVALIDHANDLE
                         : device_->Write(*it->second.leaf, pItemValues[i], settings_.lcid);
  }
  return Overall(*ppErrors, dwCount);
}

// ---------------------------------------------------------------- state
HRESULT STDMETHODCALLTYPE SimGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                             LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                             OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) {
  if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID ||
      !phClientGroup || !phServerGroup)
    return E_POINTER;
  *ppName = nullptr;
  if (!EnterCall("GetState")) return E_FAIL;
  *ppName = U16ToCoTaskMem(settings_.name);
  if (!*ppName) return E_OUTOFMEMORY;
  *pUpdateRate = settings_.updateRate;
  *pActive = settings_.active;
  *pTimeBias = settings_.timeBias;
  *pPercentDeadband = settings_.deadband;
  *pLCID = settings_.lcid;
  *phClientGroup = settings_.clientHandle;
  *phServerGroup = settings_.serverHandle;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                             BOOL* pActive, LONG* pTimeBias,
                                             FLOAT* pPercentDeadband, DWORD* pLCID,
                                             OPCHANDLE* phClientGroup) {
  if (!pRevisedUpdateRate) return E_POINTER;
  if (!EnterCall("SetState")) return E_FAIL;
  if (pPercentDeadband && (*pPercentDeadband < 0 || *pPercentDeadband > 100)) return E_INVALIDARG;
  HRESULT result = S_OK;
  if (pRequestedUpdateRate) {
    settings_.updateRate = ReviseRate(*pRequestedUpdateRate);
    if (settings_.updateRate != *pRequestedUpdateRate) result = OPC_S_UNSUPPORTEDRATE;
  }
  if (pActive) {
    if (*pActive && !settings_.active) owedAll_ = true;
    settings_.active = *pActive ? TRUE : FALSE;
  }
  if (pTimeBias) settings_.timeBias = *pTimeBias;
  if (pPercentDeadband) settings_.deadband = *pPercentDeadband;
  if (pLCID) settings_.lcid = *pLCID;
  if (phClientGroup) settings_.clientHandle = *phClientGroup;
  *pRevisedUpdateRate = settings_.updateRate;
  UpdateTimer();
  return result;
}

HRESULT STDMETHODCALLTYPE SimGroup::SetName(LPCWSTR szName) {
  if (!EnterCall("SetName")) return E_FAIL;
  if (!szName || !szName[0]) return E_INVALIDARG;
  const std::u16string name = OleToU16(szName);
  for (const auto& [handle, group] : core_->groups)
    if (group.Get() != this && group->Name() == name) return OPC_E_DUPLICATENAME;
  settings_.name = name;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimGroup::CloneGroup(LPCWSTR, REFIID, LPUNKNOWN* ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  return E_NOTIMPL;
}

// ---------------------------------------------------------------- data-change
// connection
HRESULT STDMETHODCALLTYPE SimGroup::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE SimGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (!ppCP) return E_POINTER;
  *ppCP = nullptr;
  if (!EnterCall("FindConnectionPoint")) return E_FAIL;
  if (!IsEqualIID(riid, IID_IOPCDataCallback)) return CONNECT_E_NOCONNECTION;
  *ppCP = new SimConnectionPoint(this, IID_IOPCDataCallback, this);
  return S_OK;
}

HRESULT SimGroup::AdviseSink(IUnknown* sink, DWORD* cookie) {
  if (!EnterCall("Advise")) return E_FAIL;
  const SimFaults faults = device_->Faults();
  if (faults.adviseFails) return CONNECT_E_CANNOTCONNECT;
  if (sink_) return CONNECT_E_ADVISELIMIT;
  Microsoft::WRL::ComPtr<IOPCDataCallback> callback;
  if (FAILED(sink->QueryInterface(IID_IOPCDataCallback,
                                  reinterpret_cast<void**>(callback.GetAddressOf()))))
    return CONNECT_E_CANNOTCONNECT;
  sink_ = callback;
  cookie_ = *cookie = ++lastCookie_;
  owedAll_ = true;  // the first callback carries every active item
  lastUpdate_ = {};
  UpdateTimer();
  if (faults.unloadWaitsForThread) SimServerThread::Instance().Start();
  return S_OK;
}

HRESULT SimGroup::UnadviseSink(DWORD cookie) {
  if (!EnterCall("Unadvise")) return E_FAIL;
  if (!sink_ || cookie != cookie_) return CONNECT_E_NOCONNECTION;
  sink_.Reset();
  cookie_ = 0;
  UpdateTimer();
  return S_OK;
}

void SimGroup::UpdateTimer() {
  if (!sink_ || deleted_) {
    timer_.Stop();
    return;
  }
  std::weak_ptr<int> alive = alive_;
  timer_.Start(settings_.updateRate, [alive, this] {
    if (!alive.lock()) return;
    if (device_->Faults().timerThrows) throw std::runtime_error("opcsim: the update timer failed");
    FireIfDue(true);
  });
}

// The timer's messages come on the update rate's grid, each late by an amount of its own: against
// the last report's time, every tick less late than the one before it would look early and be
// dropped, halving the rate of the reports. A tick needs only half a period since the last report
// (two ticks never come back to back); a call into the server needs the whole period.
void SimGroup::FireIfDue(bool tick) {
  if (deleted_ || !sink_ || !settings_.active || firing_) return;
  const auto now = std::chrono::steady_clock::now();
  const auto period = std::chrono::milliseconds(settings_.updateRate);
  if (!owedAll_ && now - lastUpdate_ < (tick ? period / 2 : period)) return;
  lastUpdate_ = now;
  std::vector<Item*> changed;
  for (auto& [handle, item] : items_) {
    if (!item.active || !(item.leaf->access & OPC_READABLE)) continue;
    const uint64_t version = device_->Version(*item.leaf);
    if (owedAll_ || item.owed || version != item.sentVersion) changed.push_back(&item);
  }
  owedAll_ = false;
  if (!changed.empty()) SendChanges(changed);
}

void SimGroup::SendChanges(const std::vector<Item*>& items) {
  const DWORD count = static_cast<DWORD>(items.size());
  std::vector<OPCHANDLE> handles(count);
  std::vector<VARIANT> values(count);
  std::vector<WORD> qualities(count);
  std::vector<FILETIME> times(count);
  std::vector<HRESULT> errors(count);
  HRESULT masterQuality = S_OK, masterError = S_OK;
  for (DWORD i = 0; i < count; ++i) {
    Item& item = *items[i];
    const SimSample sample = device_->Read(*item.leaf);
    item.sentVersion = sample.version;
    item.owed = false;
    handles[i] = item.clientHandle;
    errors[i] = ToRequested(sample.value, item.requested, settings_.lcid, values[i]);
    qualities[i] = FAILED(errors[i]) ? static_cast<WORD>(OPC_QUALITY_BAD) : sample.quality;
    times[i] = sample.timestamp;
    if (!IsGood(qualities[i])) masterQuality = S_FALSE;
    if (errors[i] != S_OK) masterError = S_FALSE;
  }
  // The client may release the group or unadvise while inside the callback.
  Microsoft::WRL::ComPtr<SimGroup> self(this);
  Microsoft::WRL::ComPtr<IOPCDataCallback> sink = sink_;
  firing_ = true;
  // A pointer to nowhere (sinkBadPointer): the client's sink faults as it reads the qualities.
  WORD* qualitiesSent = device_->Faults().sinkBadPointer
                            ? reinterpret_cast<WORD*>(static_cast<std::uintptr_t>(0x10))
                            : qualities.data();
  sink->OnDataChange(0, settings_.clientHandle, masterQuality, masterError, count, handles.data(),
                     values.data(), qualitiesSent, times.data(), errors.data());
  firing_ = false;
  for (VARIANT& value : values) VariantClear(&value);
}

// ---------------------------------------------------------------- server core
void SimServerCore::EnterCall(const char* method) {
  device->EnterCall(method);
  FireDue();
}

void SimServerCore::FireDue() {
  if (firing) return;  // a callback that calls back in gets no nested callbacks
  firing = true;
  std::vector<Microsoft::WRL::ComPtr<SimGroup>> snapshot;
  for (const auto& [handle, group] : groups) snapshot.push_back(group);
  for (const auto& group : snapshot) group->FireIfDue();
  firing = false;
}

}  // namespace opcsim
