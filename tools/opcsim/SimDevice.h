// One simulated server as every client in the process sees it: its address
// space with the live values, its fault switches and its call counters. Server
// objects of the same class share it; it is guarded by one lock, so server
// objects on different threads may use it.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SimConfig.h"

namespace opcsim {

struct SimSample {
  SimValue value;
  WORD quality = OPC_QUALITY_BAD;
  FILETIME timestamp{};
  uint64_t version = 0;
};

class SimDevice {
 public:
  explicit SimDevice(SimServerDef definition);

  const std::u16string& ProgId() const { return progId_; }
  const CLSID& Clsid() const { return clsid_; }
  const std::u16string& ClsidText() const { return clsidText_; }
  const std::u16string& Description() const { return description_; }
  const std::u16string& Vendor() const { return vendor_; }
  FILETIME StartTime() const { return startTime_; }

  std::shared_ptr<SimAddressSpace> Space() const;
  SimFaults Faults() const;

  // Counts a call of the named method, then waits for the configured call
  // delay; with the hang and exit faults it never returns.
  void EnterCall(const char* method);
  uint32_t CallCount(const std::u16string& method) const;

  // The outcome of the next GetStatus call: S_OK with the state, or a failure
  // code.
  HRESULT NextStatus(OPCSERVERSTATE& state);

  // The leaf's value, quality and time stamp now (its change behaviour advanced
  // first).
  SimSample Read(SimLeaf& leaf);
  uint64_t Version(SimLeaf& leaf);
  // Converts the value to the leaf's canonical type and stores it; OPC result
  // code per item.
  HRESULT Write(SimLeaf& leaf, VARIANT& value, LCID lcid);

  // Test control (also reachable through IOpcSimControl).
  bool SetFaults(const std::u16string& json, std::u16string& error);
  bool Configure(const std::u16string& serverJson, std::u16string& error);
  void Reset();
  HRESULT SetItemValue(const std::u16string& itemId, VARIANT* value, WORD quality);
  HRESULT SetItemWritable(const std::u16string& itemId, bool refuseWrite);
  HRESULT SetBranchRefusesEntry(const std::u16string& branchId, bool refuseEntry);

 private:
  int64_t ElapsedMs() const;
  void Advance(SimLeaf& leaf);

  const std::u16string progId_, clsidText_, description_, vendor_;
  const CLSID clsid_;
  const std::u16string originalSource_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  FILETIME startTime_{};

  mutable std::mutex mutex_;
  std::shared_ptr<SimAddressSpace> space_;
  SimFaults faults_, originalFaults_;
  std::map<std::u16string, uint32_t> calls_;
  uint32_t statusCalls_ = 0;
  uint32_t faultCalls_ = 0;  // calls since the faults were last set, for hang and exit
};

// The simulated servers of this process, by class identifier.
class SimRegistry {
 public:
  static SimRegistry& Instance();

  // Adds the servers of a configuration text; a server whose class is already
  // known replaces it for objects created from then on.
  // `adjust` may change each server's definition first (the out-of-process server gives its
  // classes identities of their own).
  bool Load(const std::u16string& configText, std::u16string& error,
            const std::function<void(SimServerDef&)>& adjust = {});
  std::shared_ptr<SimDevice> Find(REFCLSID clsid) const;
  std::vector<std::shared_ptr<SimDevice>> Devices() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<SimDevice>> devices_;
};

}  // namespace opcsim
