#include "SimDevice.h"

#include <cstdlib>
#include <thread>

namespace opcsim {

SimDevice::SimDevice(SimServerDef definition)
    : progId_(definition.progId),
      clsidText_(definition.clsidText),
      description_(definition.description),
      vendor_(definition.vendor),
      clsid_(definition.clsid),
      originalSource_(definition.source),
      space_(std::move(definition.space)),
      faults_(definition.faults),
      originalFaults_(definition.faults) {
  CoFileTimeNow(&startTime_);
}

int64_t SimDevice::ElapsedMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start_)
      .count();
}

std::shared_ptr<SimAddressSpace> SimDevice::Space() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return space_;
}

SimFaults SimDevice::Faults() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return faults_;
}

void SimDevice::EnterCall(const char* method) {
  uint32_t delay = 0;
  bool hang = false, exit = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_[std::u16string(method, method + std::char_traits<char>::length(method))];
    const uint32_t call = ++faultCalls_;
    delay = faults_.callDelayMs;
    hang = faults_.hang || (faults_.hangAfterCalls != 0 && call > faults_.hangAfterCalls);
    exit = faults_.exitAfterCalls != 0 && call > faults_.exitAfterCalls;
  }
  if (exit) std::_Exit(3);  // a server process that dies: no answer, no clean-up
  if (delay) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  // A hung server: the call never returns. Only the process's end releases it.
  while (hang) std::this_thread::sleep_for(std::chrono::hours(1));
}

uint32_t SimDevice::CallCount(const std::u16string& method) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = calls_.find(method);
  return it == calls_.end() ? 0 : it->second;
}

HRESULT SimDevice::NextStatus(OPCSERVERSTATE& state) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t call = ++statusCalls_;
  const SimFaults& f = faults_;
  const bool failing = f.statusFailFrom != 0 && call >= f.statusFailFrom &&
                       (f.statusFailCount == 0 || call - f.statusFailFrom < f.statusFailCount);
  state = OPC_STATUS_RUNNING;
  if (!failing) return S_OK;
  if (!f.statusReportsState) return E_FAIL;
  state = f.statusState;
  return S_OK;
}

void SimDevice::Advance(SimLeaf& leaf) {
  AdvanceLeaf(leaf, ElapsedMs(), startTime_);
}

SimSample SimDevice::Read(SimLeaf& leaf) {
  std::lock_guard<std::mutex> lock(mutex_);
  Advance(leaf);
  SimSample sample;
  sample.value = leaf.value;
  sample.quality = leaf.quality;
  sample.timestamp = leaf.timestamp;
  sample.version = leaf.version;
  return sample;
}

uint64_t SimDevice::Version(SimLeaf& leaf) {
  std::lock_guard<std::mutex> lock(mutex_);
  Advance(leaf);
  return leaf.version;
}

HRESULT SimDevice::Write(SimLeaf& leaf, VARIANT& value, LCID lcid) {
  std::lock_guard<std::mutex> lock(mutex_);
  Advance(leaf);  // a pending change must not overwrite what is written now
  if (!(leaf.access & OPC_WRITEABLE)) return OPC_E_BADRIGHTS;
  if (leaf.refuseWrite) return E_FAIL;
  SimValue converted;
  if (leaf.type & VT_ARRAY) {
    if (value.vt != leaf.type) return OPC_E_BADTYPE;
    if (FAILED(VariantCopy(converted.Ptr(), &value))) return E_OUTOFMEMORY;
  } else {
    const HRESULT hr = VariantChangeTypeEx(converted.Ptr(), &value, lcid, 0, leaf.type);
    if (hr == DISP_E_OVERFLOW) return OPC_E_RANGE;
    if (FAILED(hr)) return OPC_E_BADTYPE;
    SimValue number;
    if (SUCCEEDED(VariantChangeType(number.Ptr(), converted.Ptr(), 0, VT_R8))) {
      const double x = number.Get().dblVal;
      if (leaf.limited && (x < leaf.lowLimit || x > leaf.highLimit)) return OPC_E_RANGE;
      leaf.number = x;
    }
  }
  leaf.value = converted;
  CoFileTimeNow(&leaf.timestamp);
  ++leaf.version;
  return S_OK;
}

bool SimDevice::SetFaults(const std::u16string& json, std::u16string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimFaults faults = faults_;
  if (!ParseFaults(json, faults, error)) return false;
  faults_ = faults;
  statusCalls_ = 0;
  faultCalls_ = 0;
  return true;
}

bool SimDevice::Configure(const std::u16string& serverJson, std::u16string& error) {
  SimServerDef definition;
  if (!ParseServer(serverJson, definition, error)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  space_ = std::move(definition.space);
  faults_ = definition.faults;
  calls_.clear();
  statusCalls_ = 0;
  faultCalls_ = 0;
  return true;
}

void SimDevice::Reset() {
  SimServerDef definition;
  std::u16string error;
  const bool parsed = ParseServer(originalSource_, definition, error);
  std::lock_guard<std::mutex> lock(mutex_);
  if (parsed) space_ = std::move(definition.space);
  faults_ = originalFaults_;
  calls_.clear();
  statusCalls_ = 0;
  faultCalls_ = 0;
}

HRESULT SimDevice::SetItemValue(const std::u16string& itemId, VARIANT* value, WORD quality) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<SimLeaf> leaf = space_->FindItem(itemId);
  if (!leaf) return OPC_E_UNKNOWNITEMID;
  Advance(*leaf);
  if (value) {
    SimValue converted;
    const HRESULT hr = (leaf->type & VT_ARRAY) || (value->vt & VT_ARRAY)
                           ? VariantCopy(converted.Ptr(), value)
                           : VariantChangeType(converted.Ptr(), value, 0, leaf->type);
    if (FAILED(hr)) return hr;
    leaf->value = converted;
    SimValue number;
    if (SUCCEEDED(VariantChangeType(number.Ptr(), converted.Ptr(), 0, VT_R8)))
      leaf->number = number.Get().dblVal;
  }
  leaf->quality = quality;
  CoFileTimeNow(&leaf->timestamp);
  ++leaf->version;
  return S_OK;
}

HRESULT SimDevice::SetItemWritable(const std::u16string& itemId, bool refuseWrite) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<SimLeaf> leaf = space_->FindItem(itemId);
  if (!leaf) return OPC_E_UNKNOWNITEMID;
  leaf->refuseWrite = refuseWrite;
  return S_OK;
}

HRESULT SimDevice::SetBranchRefusesEntry(const std::u16string& branchId, bool refuseEntry) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimBranch* branch = space_->FindBranchById(branchId);
  if (!branch) return E_INVALIDARG;
  branch->refuseEntry = refuseEntry;
  return S_OK;
}

SimRegistry& SimRegistry::Instance() {
  static SimRegistry registry;
  return registry;
}

bool SimRegistry::Load(const std::u16string& configText, std::u16string& error,
                       const std::function<void(SimServerDef&)>& adjust) {
  std::vector<SimServerDef> servers;
  if (!ParseConfig(configText, servers, error)) return false;
  if (adjust)
    for (SimServerDef& server : servers) adjust(server);
  std::lock_guard<std::mutex> lock(mutex_);
  for (SimServerDef& server : servers) {
    auto device = std::make_shared<SimDevice>(std::move(server));
    bool replaced = false;
    for (auto& existing : devices_) {
      if (existing->Clsid() == device->Clsid()) {
        existing = device;
        replaced = true;
      }
    }
    if (!replaced) devices_.push_back(device);
  }
  return true;
}

std::shared_ptr<SimDevice> SimRegistry::Find(REFCLSID clsid) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& device : devices_)
    if (device->Clsid() == clsid) return device;
  return nullptr;
}

std::vector<std::shared_ptr<SimDevice>> SimRegistry::Devices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_;
}

}  // namespace opcsim
