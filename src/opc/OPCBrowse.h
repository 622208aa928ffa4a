// The walk over an OPC server's address space that builds a connection's tag table: names are
// fetched in batches, and the walk is bounded in depth and in names per branch, so a server whose
// browse position never moves, whose tree loops or whose enumeration never ends cannot run it
// away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "OPCComm.h"
#include "OPCServer.h"

// Reads the names of a fresh enumeration (no Reset: one round trip fewer out of process), up to
// BatchSize names per call. False when the enumeration holds more than Limit names (Names then
// holds the first ones read).
bool ReadEnumNames(IEnumString* Enum, size_t Limit, std::vector<std::u16string>& Names);

class TBrowseWalk {
 public:
  static constexpr ULONG BatchSize = 256;
  static constexpr int MaxDepth = 64;
  static constexpr size_t MaxNamesPerBranch = 1000000;

  explicit TBrowseWalk(IOPCBrowseServerAddressSpace* Browser) : Browser(Browser) {}

  // Appends every tag from the current browse position down, in walk order: at each level its
  // leaves, then each branch's subtree. -11 when the starting level cannot be enumerated or the
  // walk goes beyond its bounds; 0 otherwise.
  int32_t Run(TItemsFullList& Items);

 private:
  // 0; -11 when the level's leaves cannot be enumerated (a failure of a level below the start is
  // silent); Exceeded when a bound is passed anywhere below.
  static constexpr int32_t Exceeded = -1000;
  int32_t BrowseBranch(const std::u16string& Prefix, const TSeparatorIndexis& Positions, int Depth);
  int32_t ReadLeaves(DWORD AccessFilter, std::vector<std::u16string>& Names);
  void AddTag(const std::u16string& Prefix, const TSeparatorIndexis& Positions,
              const std::u16string& LeafName, bool Readable, bool Writeable);

  IOPCBrowseServerAddressSpace* Browser;
  TItemsFullList* Items = nullptr;
};
