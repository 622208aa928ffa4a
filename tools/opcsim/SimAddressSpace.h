// The address space of one simulated server: branches and leaves, each leaf
// with its canonical type, access rights, value, quality and change behaviour.
// Leaves are shared with the groups that hold items on them; their live state
// is guarded by the owning device's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "OPCDA.h"
#include "SimValue.h"

namespace opcsim {

enum class ChangeKind { Static, Ramp, Random, Toggle, Counter };

struct SimLeaf {
  // Definition.
  std::u16string name;    // short name at its level (may contain dots)
  std::u16string itemId;  // fully qualified item identifier
  VARTYPE type = VT_R8;   // canonical type
  DWORD access = OPC_READABLE | OPC_WRITEABLE;
  bool refuseWrite = false;
  ChangeKind change = ChangeKind::Static;
  uint32_t periodMs = 1000;
  double min = 0, max = 100, step = 1;
  bool limited = false;  // writes outside [lowLimit, highLimit] are refused with
                         // OPC_E_RANGE
  double lowLimit = 0, highLimit = 0;
  uint64_t seed = 0;

  // Live state (under the device lock).
  SimValue value;
  double number = 0;  // the value as a number, for the change behaviours
  WORD quality = OPC_QUALITY_GOOD;
  FILETIME timestamp{};
  int64_t tick = 0;      // periods elapsed when the value was last advanced
  uint64_t version = 0;  // grows with every change of value or quality
};

struct SimBranch {
  std::u16string name;
  std::u16string itemId;  // identifier of the branch, for BROWSE_TO and GetItemID
  bool refuseEntry = false;
  bool isItem = false;          // also an item (IOPCBrowse flags it so, beside its children)
  SimBranch* parent = nullptr;  // none for the root
  std::vector<std::unique_ptr<SimBranch>> branches;
  std::vector<std::shared_ptr<SimLeaf>> leaves;

  SimBranch* FindBranch(const std::u16string& child) const;
  std::shared_ptr<SimLeaf> FindLeaf(const std::u16string& child) const;
};

class SimAddressSpace {
 public:
  SimBranch& Root() { return root_; }
  const SimBranch& Root() const { return root_; }

  // Indexes every item and branch identifier; call once the tree is complete.
  // False (with the identifier in `duplicate`) when two leaves share an item
  // identifier.
  bool BuildIndex(std::u16string& duplicate);

  std::shared_ptr<SimLeaf> FindItem(const std::u16string& itemId) const;
  SimBranch* FindBranchById(const std::u16string& itemId) const;
  size_t LeafCount() const { return items_.size(); }
  std::vector<std::shared_ptr<SimLeaf>> AllLeaves() const;

 private:
  bool IndexBranch(SimBranch& branch, std::u16string& duplicate);

  SimBranch root_;
  std::unordered_map<std::u16string, std::shared_ptr<SimLeaf>> items_;
  std::unordered_map<std::u16string, SimBranch*> branches_;
};

// Sets a leaf's value from a number in its canonical type (clamped to the
// type's range).
void SetLeafNumber(SimLeaf& leaf, double number);

// Advances a leaf's change behaviour to `elapsedMs` after the device started;
// `start` is the device's start time. Returns whether the value changed.
bool AdvanceLeaf(SimLeaf& leaf, int64_t elapsedMs, const FILETIME& start);

// Whether the variant type is one a leaf can have (the scalar types, or an
// array of one).
bool IsLeafType(VARTYPE vt);

FILETIME AddMilliseconds(const FILETIME& base, int64_t ms);

}  // namespace opcsim
