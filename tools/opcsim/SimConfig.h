// The simulated servers' definitions, read from JSON text with the project's
// JSON parser:
//
// {"servers": [{"progId": "...", "clsid": "{...}", "description": "...",
// "vendor": "...",
//               "itemPrefix": "[Dev]", "faults": {...}, "tree": [node, ...]}]}
// node: {"branch": "Name", "count": 3, "refuseEntry": false, "children": [node,
// ...]}
//     | {"leaf": "Name", "count": 3, "type": "R8" | "I4[]" | ..., "access": "r"
//     | "w" | "rw",
//        "value": ..., "quality": 192, "change": "static" | "ramp" | "random" |
//        "toggle" | "counter", "period": 1000, "min": 0, "max": 100, "step": 1,
//        "lowLimit": .., "highLimit": .., "refuseWrite": false, "itemId":
//        "..."}
// With "count", "{n}" in a name (or "{nn}", "{nnn}" zero-padded)
// becomes 1..count.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "SimAddressSpace.h"

class TqvJSONobject;

namespace opcsim {

struct SimFaults {
  uint32_t statusFailFrom = 0;      // GetStatus fails from this call on (1-based); 0: never
  uint32_t statusFailCount = 0;     // for this many calls, then recovers; 0: for good
  bool statusReportsState = false;  // the failing call succeeds and reports statusState instead
  OPCSERVERSTATE statusState = OPC_STATUS_FAILED;
  bool rootLeavesFail = false;  // BrowseOPCItemIDs for leaves at the root fails
  bool browserMissing = false;  // the server does not answer IOPCBrowseServerAddressSpace
  bool addGroupFails = false;
  bool addItemsFails = false;
  bool adviseFails = false;
  bool statusCrashes = false;  // GetStatus writes through a null pointer (an access violation)
  bool browseStuck = false;  // ChangeBrowsePosition down succeeds but the position stays
  uint32_t callDelayMs = 0;  // every call of the server's objects waits this long first
  // IOPCBrowse: the server does not answer it; its Browse fails; Browse returns at most
  // browsePageSize elements a call (0: no limit). With browseStuck, Browse of any branch lists
  // the top level again: the tree links back to itself.
  bool browseElementsMissing = false;
  bool browseElementsFails = false;
  uint32_t browsePageSize = 0;
  // For a server in a process of its own (opcsim-server.exe): every call after the first
  // hangAfterCalls blocks until the process is killed (`hang`: from now on), and the process
  // exits when a call comes after the first exitAfterCalls. 0: never.
  bool hang = false;
  uint32_t hangAfterCalls = 0;
  uint32_t exitAfterCalls = 0;
  // In process (opcsim.dll): the first Advise starts a thread of the server's own, and
  // DllCanUnloadNow waits for its end before it answers S_OK.
  bool unloadWaitsForThread = false;
  // Faults of an in-process server that end its client's process (for its crash records).
  bool statusOverflows = false;  // GetStatus recurses until the caller's stack overflows
  bool sinkBadPointer = false;   // OnDataChange gets its qualities as a pointer to nowhere
  bool timerThrows = false;      // the update timer throws a C++ exception on the client's thread
};

struct SimServerDef {
  std::u16string progId;
  std::u16string clsidText;
  CLSID clsid{};
  std::u16string description;
  std::u16string vendor;
  std::shared_ptr<SimAddressSpace> space;
  SimFaults faults;
  std::u16string source;  // the server's own JSON text, to build it again
};

// Parses a whole configuration. False with a message on the first error.
bool ParseConfig(std::u16string_view text, std::vector<SimServerDef>& servers,
                 std::u16string& error);

// Parses one server object's JSON text.
bool ParseServer(std::u16string_view text, SimServerDef& server, std::u16string& error);

// Merges the fault switches of a JSON object's text into `faults`.
bool ParseFaults(std::u16string_view text, SimFaults& faults, std::u16string& error);

// Reads a UTF-8 text file (a byte order mark is skipped). False when it cannot
// be read.
bool ReadTextFile(const std::filesystem::path& path, std::u16string& text);

}  // namespace opcsim
