// Finding the OPC DA servers installed on the machine: program identifier keys under
// HKEY_LOCAL_MACHINE\Software\Classes that have an "OPC" subkey and a "CLSID" subkey.
#pragma once

#include <string>
#include <vector>

class TLogger;

struct TOPCServerEntry {
  std::u16string Name;  // the program identifier key's name
  std::u16string GUID;  // the "CLSID" subkey's default value, as stored
};
using TOPCServers = std::vector<TOPCServerEntry>;

// Walks the registry once and returns the servers in the order found; no two entries share a Name
// or a GUID (the first found wins). Logs to Logger when it is set.
TOPCServers WalkOPCServers(TLogger* Logger);
