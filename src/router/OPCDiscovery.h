// Finding the OPC DA servers installed on the machine: program identifier keys under
// HKEY_LOCAL_MACHINE\Software\Classes that have an "OPC" subkey and a "CLSID" subkey.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TLogger;
class TRegChangeWatch;

struct TOPCServerEntry {
  std::u16string Name;  // the program identifier key's name
  std::u16string GUID;  // the "CLSID" subkey's default value, as stored
  bool operator==(const TOPCServerEntry&) const = default;
};
using TOPCServers = std::vector<TOPCServerEntry>;

// Receives the walk's log entries (kind and text; they carry no TransID).
using TDiscoveryLog = std::function<void(int32_t Cmd, const std::u16string& Text)>;

// Walks the registry once and returns the servers in the order found; no two entries share a Name
// or a GUID (the first found wins).
TOPCServers WalkOPCServers(const TDiscoveryLog& Log);
// The same, logging to Logger when it is set.
TOPCServers WalkOPCServers(TLogger* Logger);

// The last walk's result, reused while nothing under HKEY_LOCAL_MACHINE\Software\Classes has
// changed. The change notification is armed before each walk, so a change during the walk makes
// the next call walk again. Without a notification every call walks. Safe to call from several
// threads; walks may overlap.
class TOPCServerCache {
 public:
  TOPCServerCache();
  ~TOPCServerCache();
  TOPCServerCache(const TOPCServerCache&) = delete;
  TOPCServerCache& operator=(const TOPCServerCache&) = delete;

  // What WalkOPCServers would return now, with the same log entries on success.
  TOPCServers Servers(const TDiscoveryLog& Log);
  // How many times Servers has read the registry.
  uint64_t Walks() const { return WalkCount; }

 private:
  std::mutex Lock;
  std::unique_ptr<TRegChangeWatch> Watch;  // armed before the walk that found Last
  TOPCServers Last;
  std::atomic<uint64_t> WalkCount{0};
};
