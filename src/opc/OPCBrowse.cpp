#include "OPCBrowse.h"

#include <algorithm>
#include <unordered_set>

#include "HashName.h"

namespace {

const std::u16string Empty;

// Moves the browse position back up when the level entered is left, also by an exception, so
// that the next walk starts where this one did.
class TLevelEntered {
 public:
  explicit TLevelEntered(IOPCBrowseServerAddressSpace* Browser) : Browser(Browser) {}
  ~TLevelEntered() { Browser->ChangeBrowsePosition(OPC_BROWSE_UP, OleArg(Empty)); }
  TLevelEntered(const TLevelEntered&) = delete;
  TLevelEntered& operator=(const TLevelEntered&) = delete;

 private:
  IOPCBrowseServerAddressSpace* Browser;
};

}  // namespace

bool ReadEnumNames(IEnumString* Enum, size_t Limit, std::vector<std::u16string>& Names) {
  Names.clear();
  if (Enum == nullptr) return true;
  LPOLESTR Batch[TBrowseWalk::BatchSize];
  for (;;) {
    std::fill(std::begin(Batch), std::end(Batch), nullptr);
    ULONG Fetched = 0;
    const HRESULT Hr = Enum->Next(TBrowseWalk::BatchSize, Batch, &Fetched);
    if (FAILED(Hr)) return true;
    // S_FALSE ends the enumeration, but the names fetched with it still count.
    Fetched = std::min(Fetched, TBrowseWalk::BatchSize);
    for (ULONG I = 0; I < Fetched; ++I) {
      if (Names.size() < Limit + 1) Names.push_back(OleToU16(Batch[I]));
      CoTaskMemFree(Batch[I]);
    }
    if (Names.size() > Limit) {
      Names.resize(Limit);
      return false;
    }
    if (Hr != S_OK || Fetched == 0) return true;
  }
}

bool TBrowseBudget::Spend(size_t Count) {
  if (Count > Left) {
    Left = 0;
    return false;
  }
  Left -= Count;
  return true;
}

bool TBrowsePath::Contains(const std::u16string& ItemID) const {
  return !ItemID.empty() && std::find(IDs.begin(), IDs.end(), ItemID) != IDs.end();
}

TOPCItem MakeBrowsedTag(const std::u16string& Prefix, const TSeparatorIndexis& Positions,
                        const std::u16string& LeafName, const std::u16string& ItemID, bool Readable,
                        bool Writeable) {
  const std::u16string Path = Prefix.empty() ? LeafName : Prefix + u"." + LeafName;
  TOPCItem Item;
  Item.SeparatorName = TOPCServer::MarkSeparators(
      ItemID, Positions, static_cast<int32_t>(Path.size()) - static_cast<int32_t>(ItemID.size()));
  Item.HashName = MakeHashName(Item.SeparatorName);
  Item.LinkName = ItemID;
  Item.Readable = Readable;
  Item.Writeable = Writeable;
  return Item;
}

int32_t TBrowseWalk::Run(TItemsFullList& Table) {
  Items = &Table;
  const size_t Start = Table.size();
  Path.Push(ItemIDOf(Empty));  // the starting level, when the server names it
  const int32_t Result = BrowseBranch(u"", {}, 0);
  if (Result == 0) return 0;
  Table.resize(Start);  // nothing of a walk that did not end is kept
  return UNABLE_BROWSER_ITEMS;
}

std::u16string TBrowseWalk::ItemIDOf(const std::u16string& Name) {
  std::u16string ItemID;
  LPWSTR Returned = nullptr;
  if (SUCCEEDED(Browser->GetItemID(OleArg(Name), &Returned)) && Returned != nullptr)
    ItemID = OleToU16(Returned);
  CoTaskMemFree(Returned);
  return ItemID;
}

int32_t TBrowseWalk::ReadLeaves(DWORD AccessFilter, std::vector<std::u16string>& Names) {
  ComPtr<IEnumString> Enum;
  if (FAILED(Browser->BrowseOPCItemIDs(OPC_LEAF, OleArg(Empty), VT_EMPTY, AccessFilter,
                                       Enum.GetAddressOf())))
    return UNABLE_BROWSER_ITEMS;
  return ReadEnumNames(Enum.Get(), MaxNamesPerBranch, Names) ? 0 : Exceeded;
}

int32_t TBrowseWalk::BrowseBranch(const std::u16string& Prefix, const TSeparatorIndexis& Positions,
                                  int Depth) {
  if (!Budget.Spend(1)) return Exceeded;
  std::vector<std::u16string> Leaves, Readable, Writeable;
  int32_t Result = ReadLeaves(0, Leaves);
  if (Result < 0) return Result;
  if (!Budget.Spend(Leaves.size())) return Exceeded;
  // The access-filtered lists only mark the leaves listed above: a level without leaves needs
  // neither (two enumerations, six calls fewer out of process).
  if (!Leaves.empty()) {
    if ((Result = ReadLeaves(OPC_READABLE, Readable)) < 0) return Result;
    if ((Result = ReadLeaves(OPC_WRITEABLE, Writeable)) < 0) return Result;
  }
  // Membership in the access-filtered lists is looked up in sets instead of rescanning them.
  const std::unordered_set<std::u16string> ReadableSet(Readable.begin(), Readable.end());
  const std::unordered_set<std::u16string> WriteableSet(Writeable.begin(), Writeable.end());
  for (const auto& Leaf : Leaves)
    Items->push_back(MakeBrowsedTag(Prefix, Positions, Leaf, ItemIDOf(Leaf),
                                    ReadableSet.count(Leaf) != 0, WriteableSet.count(Leaf) != 0));

  ComPtr<IEnumString> BranchEnum;
  if (FAILED(Browser->BrowseOPCItemIDs(OPC_BRANCH, OleArg(Empty), VT_EMPTY, 0,
                                       BranchEnum.GetAddressOf())))
    BranchEnum.Reset();
  std::vector<std::u16string> Branches;
  if (!ReadEnumNames(BranchEnum.Get(), MaxNamesPerBranch, Branches)) return Exceeded;
  for (const auto& Branch : Branches)
    if (EnterBranch(Branch, Prefix, Positions, Depth) == Exceeded) return Exceeded;
  return 0;
}

int32_t TBrowseWalk::EnterBranch(const std::u16string& Branch, const std::u16string& Prefix,
                                 const TSeparatorIndexis& Positions, int Depth) {
  // A branch whose item identifier is already on the path down here leads back up the tree.
  const std::u16string BranchID = ItemIDOf(Branch);
  if (Path.Contains(BranchID)) return 0;
  if (Browser->ChangeBrowsePosition(OPC_BROWSE_DOWN, OleArg(Branch)) != S_OK) return 0;
  const TLevelEntered Entered(Browser);
  if (Depth + 1 >= MaxDepth) return Exceeded;
  const std::u16string SubPrefix = Prefix.empty() ? Branch : Prefix + u"." + Branch;
  TSeparatorIndexis SubPositions = Positions;
  SubPositions.push_back(static_cast<int32_t>(SubPrefix.size()) + 1);
  Path.Push(BranchID);
  const int32_t Result = BrowseBranch(SubPrefix, SubPositions, Depth + 1);
  Path.Pop();
  return Result;
}
