#include "OPCBrowseElements.h"

#include <algorithm>
#include <new>
#include <utility>

namespace {

const std::u16string Empty;

// The continuation point handed to one Browse call and back: an [in, out] string. A server in
// this process frees the one it is given and allocates the next; through a proxy the next one
// may be written into the memory given, so that memory is made roomy. Whatever comes back is
// taken as text and freed.
class TContinuationPoint {
 public:
  static constexpr size_t Room = 4096;  // characters
  explicit TContinuationPoint(const std::u16string& Text) {
    const size_t Size = std::max(Room, Text.size() + 1);
    Buffer = static_cast<LPWSTR>(CoTaskMemAlloc(Size * sizeof(OLECHAR)));
    if (Buffer == nullptr) throw std::bad_alloc();
    std::copy(Text.begin(), Text.end(), Buffer);
    Buffer[Text.size()] = 0;
  }
  ~TContinuationPoint() { CoTaskMemFree(Buffer); }
  TContinuationPoint(const TContinuationPoint&) = delete;
  TContinuationPoint& operator=(const TContinuationPoint&) = delete;
  LPWSTR* Address() { return &Buffer; }
  std::u16string Text() const { return OleToU16(Buffer); }

 private:
  LPWSTR Buffer = nullptr;
};

// The element array one Browse call returns, freed with everything it points to.
class TElementArray {
 public:
  ~TElementArray() {
    for (DWORD I = 0; Elements != nullptr && I < Count; ++I) Free(Elements[I]);
    CoTaskMemFree(Elements);
  }
  OPCBROWSEELEMENT* Elements = nullptr;
  DWORD Count = 0;

 private:
  static void Free(OPCBROWSEELEMENT& Element) {
    CoTaskMemFree(Element.szName);
    CoTaskMemFree(Element.szItemID);
    OPCITEMPROPERTIES& Properties = Element.ItemProperties;
    for (DWORD I = 0; Properties.pItemProperties != nullptr && I < Properties.dwNumProperties;
         ++I) {
      OPCITEMPROPERTY& Property = Properties.pItemProperties[I];
      CoTaskMemFree(Property.szItemID);
      CoTaskMemFree(Property.szDescription);
      VariantClear(&Property.vValue);
    }
    CoTaskMemFree(Properties.pItemProperties);
  }
};

// The access rights an element's property 5 gives; false when it gives none.
bool ReadRights(const OPCITEMPROPERTIES& Properties, DWORD& Rights) {
  if (FAILED(Properties.hrErrorID) || Properties.pItemProperties == nullptr) return false;
  for (DWORD I = 0; I < Properties.dwNumProperties; ++I) {
    const OPCITEMPROPERTY& Property = Properties.pItemProperties[I];
    if (Property.dwPropertyID != OPC_PROPERTY_ACCESS_RIGHTS || FAILED(Property.hrErrorID)) continue;
    VARIANT Value;
    VariantInit(&Value);
    const bool Converted =
        SUCCEEDED(VariantChangeType(&Value, const_cast<VARIANT*>(&Property.vValue), 0, VT_I4));
    if (Converted) Rights = static_cast<DWORD>(Value.lVal);
    VariantClear(&Value);
    return Converted;
  }
  return false;
}

bool IsLeaf(DWORD Flags) {
  return (Flags & OPC_BROWSE_ISITEM) != 0 && (Flags & OPC_BROWSE_HASCHILDREN) == 0;
}

}  // namespace

int32_t TElementBrowseWalk::Run(TItemsFullList& Table) {
  Items = &Table;
  const size_t Start = Table.size();
  const int32_t Result = BrowseLevel(Empty, u"", {}, 0);
  if (Result == 0) return 0;
  Table.resize(Start);  // nothing of a walk that did not end is kept
  if (Result == Exceeded) return UNABLE_BROWSER_ITEMS;
  return Unusable;
}

int32_t TElementBrowseWalk::ReadLevel(const std::u16string& LevelID,
                                      std::vector<TElement>& Elements) {
  std::u16string Next;
  DWORD AccessRights = OPC_PROPERTY_ACCESS_RIGHTS;
  do {
    if (!Budget.Spend(1)) return Exceeded;
    TElementArray Page;
    BOOL More = FALSE;
    TContinuationPoint Continuation(Next);
    const HRESULT Hr = Browser->Browse(OleArg(LevelID), Continuation.Address(), 0,
                                       OPC_BROWSE_FILTER_ALL, OleArg(Empty), OleArg(Empty), FALSE,
                                       TRUE, 1, &AccessRights, &More, &Page.Count, &Page.Elements);
    if (FAILED(Hr)) return Failed;
    Next = Continuation.Text();
    if (Page.Elements == nullptr) Page.Count = 0;
    if (Elements.size() + Page.Count > TBrowseBounds::MaxNamesPerBranch) return Exceeded;
    for (DWORD I = 0; I < Page.Count; ++I) {
      const OPCBROWSEELEMENT& From = Page.Elements[I];
      TElement Element;
      Element.Name = OleToU16(From.szName);
      Element.ItemID = OleToU16(From.szItemID);
      Element.Flags = From.dwFlagValue;
      Element.HasRights = ReadRights(From.ItemProperties, Element.Rights);
      Elements.push_back(std::move(Element));
    }
    // More elements without a continuation point: the server cut the level short.
    if (Next.empty() && More) return Unusable;
  } while (!Next.empty());
  return 0;
}

int32_t TElementBrowseWalk::BrowseLevel(const std::u16string& LevelID, const std::u16string& Prefix,
                                        const TSeparatorIndexis& Positions, int Depth) {
  std::vector<TElement> Elements;
  int32_t Result = ReadLevel(LevelID, Elements);
  // A level below the start that cannot be read is left out, as a branch refusing entry is.
  if (Result == Failed) return Depth == 0 ? Unusable : 0;
  if (Result < 0) return Result;
  if (Depth >= TBrowseBounds::MaxDepth) return Exceeded;
  for (const TElement& Element : Elements) {
    if (!IsLeaf(Element.Flags)) continue;
    if (!Element.HasRights) return Unusable;
    if (!Budget.Spend(1)) return Exceeded;
    Items->push_back(MakeBrowsedTag(Prefix, Positions, Element.Name, Element.ItemID,
                                    (Element.Rights & OPC_READABLE) != 0,
                                    (Element.Rights & OPC_WRITEABLE) != 0));
  }
  for (const TElement& Element : Elements) {
    if ((Element.Flags & OPC_BROWSE_HASCHILDREN) == 0) continue;
    Result = EnterBranch(Element, Prefix, Positions, Depth);
    if (Result == Exceeded || Result == Unusable) return Result;
  }
  return 0;
}

int32_t TElementBrowseWalk::EnterBranch(const TElement& Branch, const std::u16string& Prefix,
                                        const TSeparatorIndexis& Positions, int Depth) {
  if (Branch.ItemID.empty()) return Unusable;
  // A branch whose item identifier is already on the path down here leads back up the tree.
  if (Path.Contains(Branch.ItemID)) return 0;
  const std::u16string SubPrefix = Prefix.empty() ? Branch.Name : Prefix + u"." + Branch.Name;
  TSeparatorIndexis SubPositions = Positions;
  SubPositions.push_back(static_cast<int32_t>(SubPrefix.size()) + 1);
  Path.Push(Branch.ItemID);
  const int32_t Result = BrowseLevel(Branch.ItemID, SubPrefix, SubPositions, Depth + 1);
  Path.Pop();
  return Result;
}
