// The walk that builds a connection's tag table through IOPCBrowse, where the server offers it:
// one Browse call per level (more only when the server splits a level with continuation points),
// each element with its name, item identifier, flags and access rights. It gives the table the
// IOPCBrowseServerAddressSpace walk gives for the same address space, in the same order, under the
// same bounds; where the server's answers cannot give that table it says so, and the caller walks
// the other way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "OPCBrowse.h"

class TElementBrowseWalk {
 public:
  // Run's answer when this server's Browse cannot give the table: it fails at the starting level,
  // ends a level early, names a branch without an item identifier, or lists an item without its
  // access rights.
  static constexpr int32_t Unusable = -1001;

  explicit TElementBrowseWalk(IOPCBrowse* Browser, size_t Budget = TBrowseBounds::DefaultBudget)
      : Browser(Browser), Budget(Budget) {}

  // Appends every tag of the address space, in walk order: at each level its leaves (elements
  // that are items without children) in the server's order, then the subtree of each element
  // with children. 0; -11 when the walk goes beyond its bounds; Unusable. Nothing is appended
  // unless the answer is 0.
  int32_t Run(TItemsFullList& Items);

 private:
  struct TElement {
    std::u16string Name;
    std::u16string ItemID;
    DWORD Flags = 0;
    bool HasRights = false;
    DWORD Rights = 0;
  };
  static constexpr int32_t Exceeded = -1000;
  static constexpr int32_t Failed = -1002;

  int32_t BrowseLevel(const std::u16string& LevelID, const std::u16string& Prefix,
                      const TSeparatorIndexis& Positions, int Depth);
  int32_t ReadLevel(const std::u16string& LevelID, std::vector<TElement>& Elements);
  int32_t EnterBranch(const TElement& Branch, const std::u16string& Prefix,
                      const TSeparatorIndexis& Positions, int Depth);

  IOPCBrowse* Browser;
  TBrowseBudget Budget;
  TBrowsePath Path;
  TItemsFullList* Items = nullptr;
};
