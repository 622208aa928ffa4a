// Finding the OPC DA servers installed on the machine: program identifier keys under
// HKEY_LOCAL_MACHINE\Software\Classes that have an "OPC" subkey and a "CLSID" subkey.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TLogger;

struct TOPCServerEntry {
  std::u16string Name;  // the program identifier key's name
  std::u16string GUID;  // the "CLSID" subkey's default value, as stored
};
using TOPCServers = std::vector<TOPCServerEntry>;

// Receives the walk's log entries (kind and text; they carry no TransID).
using TDiscoveryLog = std::function<void(int32_t Cmd, const std::u16string& Text)>;

// Walks the registry once and returns the servers in the order found; no two entries share a Name
// or a GUID (the first found wins).
TOPCServers WalkOPCServers(const TDiscoveryLog& Log);
// The same, logging to Logger when it is set.
TOPCServers WalkOPCServers(TLogger* Logger);
