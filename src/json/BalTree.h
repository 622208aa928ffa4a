// Field name index of a JSON object: an AA tree (levels instead of colours, rebalanced by skew and
// split) mapping each distinct field name to the position of the first field added under it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TqvBalNode;
using PqvBalNode = TqvBalNode*;

struct TqvBalNode {
  PqvBalNode left = nullptr;   // subtree of smaller names
  PqvBalNode right = nullptr;  // subtree of greater names
  std::uint8_t level = 0;      // 0 for the sentinel, 1 for a leaf
  std::int32_t key = 0;        // position of the field in the object's field list
  std::u16string nm;           // the field name
};

class TqvBalTree {
 public:
  TqvBalTree();
  ~TqvBalTree();
  TqvBalTree(const TqvBalTree&) = delete;  // every empty link points at this tree's own sentinel
  TqvBalTree& operator=(const TqvBalTree&) = delete;

  // Adds ws with key x; false, and no change, when ws is already present.
  bool Insert(const std::u16string& ws, std::int32_t x);
  // The key stored for ws, or -1.
  std::int32_t IndexOf(std::u16string_view ws) const;
  void Clear();
  std::u16string counters() const;

  PqvBalNode Root() const { return froot; }
  PqvBalNode Sentinel() const { return fbottom; }

 private:
  bool InsertAt(PqvBalNode& t, const std::u16string& ws, std::int32_t x);
  static void Skew(PqvBalNode& t);
  static void Split(PqvBalNode& t);
  PqvBalNode NewNode(const std::u16string& ws, std::int32_t x);

  PqvBalNode fdeleted;  // removal bookkeeping, kept for completeness: names are never removed
  PqvBalNode flast;
  PqvBalNode fbottom;
  PqvBalNode froot;

  TqvBalNode FSentinel;
  // Nodes live in chunks of growing size, so a tree of n names costs O(log n) allocations.
  std::vector<std::unique_ptr<TqvBalNode[]>> FChunks;
  std::size_t FChunkSize = 0;
  std::size_t FChunkUsed = 0;
};

// Orders names code unit by code unit as unsigned 16-bit numbers; a prefix sorts first.
int CompareNames(std::u16string_view a, std::u16string_view b);
