// The walk over an OPC server's address space through IOPCBrowseServerAddressSpace that builds a
// connection's tag table: names are fetched in batches, and the walk is bounded in depth, in names
// per branch and in the total of levels and tags it visits, and never enters a branch already on
// the path it came down, so a server whose browse position never moves, whose tree loops or whose
// enumeration never ends cannot run it away.
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

// The bounds both walks share.
struct TBrowseBounds {
  static constexpr int MaxDepth = 64;
  static constexpr size_t MaxNamesPerBranch = 1000000;
  // Levels entered plus tags listed in one walk.
  static constexpr size_t DefaultBudget = 2000000;
};

// What a walk has left to spend of its budget.
class TBrowseBudget {
 public:
  explicit TBrowseBudget(size_t Total) : Left(Total) {}
  // False (and nothing left) when Count is more than what is left.
  bool Spend(size_t Count);

 private:
  size_t Left;
};

// The item identifiers of the branches on the path a walk came down; an empty identifier (a
// server that does not name its branches) is never taken for a repeat.
class TBrowsePath {
 public:
  bool Contains(const std::u16string& ItemID) const;
  void Push(const std::u16string& ItemID) { IDs.push_back(ItemID); }
  void Pop() { IDs.pop_back(); }

 private:
  std::vector<std::u16string> IDs;
};

// A table entry for a leaf: its SeparatorName from the browse path (Prefix and the leaf name) and
// the separator positions of its level, its HashName, and ItemID as its LinkName.
TOPCItem MakeBrowsedTag(const std::u16string& Prefix, const TSeparatorIndexis& Positions,
                        const std::u16string& LeafName, const std::u16string& ItemID, bool Readable,
                        bool Writeable);

class TBrowseWalk {
 public:
  static constexpr ULONG BatchSize = 256;
  static constexpr int MaxDepth = TBrowseBounds::MaxDepth;
  static constexpr size_t MaxNamesPerBranch = TBrowseBounds::MaxNamesPerBranch;

  explicit TBrowseWalk(IOPCBrowseServerAddressSpace* Browser,
                       size_t Budget = TBrowseBounds::DefaultBudget)
      : Browser(Browser), Budget(Budget) {}

  // Appends every tag from the current browse position down, in walk order: at each level its
  // leaves, then each branch's subtree. -11 when the starting level cannot be enumerated or the
  // walk goes beyond its bounds (nothing is then appended); 0 otherwise.
  int32_t Run(TItemsFullList& Items);

 private:
  // 0; -11 when the level's leaves cannot be enumerated (a failure of a level below the start is
  // silent); Exceeded when a bound is passed anywhere below.
  static constexpr int32_t Exceeded = -1000;
  int32_t BrowseBranch(const std::u16string& Prefix, const TSeparatorIndexis& Positions, int Depth);
  int32_t ReadLeaves(DWORD AccessFilter, std::vector<std::u16string>& Names);
  int32_t EnterBranch(const std::u16string& Branch, const std::u16string& Prefix,
                      const TSeparatorIndexis& Positions, int Depth);
  std::u16string ItemIDOf(const std::u16string& Name);

  IOPCBrowseServerAddressSpace* Browser;
  TBrowseBudget Budget;
  TBrowsePath Path;
  TItemsFullList* Items = nullptr;
};
