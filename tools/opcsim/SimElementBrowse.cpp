#include "SimElementBrowse.h"

#include <cstring>

#include "SimServer.h"

namespace opcsim {

namespace {

// One element of a level before it is handed out: a branch or a leaf.
struct Entry {
  const SimBranch* branch = nullptr;
  const SimLeaf* leaf = nullptr;
};

DWORD Flags(const Entry& entry) {
  if (entry.leaf) return OPC_BROWSE_ISITEM;
  const bool children = !entry.branch->branches.empty() || !entry.branch->leaves.empty();
  return (children ? OPC_BROWSE_HASCHILDREN : 0) | (entry.branch->isItem ? OPC_BROWSE_ISITEM : 0);
}

bool Passes(const Entry& entry, const SimBrowseRequest& request) {
  const DWORD flags = Flags(entry);
  const std::u16string& name = entry.leaf ? entry.leaf->name : entry.branch->name;
  if (!MatchesFilter(name, request.nameFilter)) return false;
  switch (request.filter) {
    case OPC_BROWSE_FILTER_BRANCHES:
      return (flags & OPC_BROWSE_HASCHILDREN) != 0;
    case OPC_BROWSE_FILTER_ITEMS:
      return (flags & OPC_BROWSE_ISITEM) != 0;
    default:
      return true;
  }
}

// Property 1 (canonical type) and 5 (access rights) of a leaf; any other is refused.
void FillProperty(const SimLeaf* leaf, DWORD id, bool withValue, OPCITEMPROPERTY& property) {
  property.dwPropertyID = id;
  VariantInit(&property.vValue);
  if (!leaf || (id != 1 && id != OPC_PROPERTY_ACCESS_RIGHTS)) {
    property.hrErrorID = OPC_E_INVALID_PID;
    return;
  }
  property.vtDataType = id == 1 ? VT_I2 : VT_I4;
  property.szDescription =
      U16ToCoTaskMem(id == 1 ? u"Item Canonical DataType" : u"Item Access Rights");
  property.szItemID = U16ToCoTaskMem(u"");
  if (withValue) {
    property.vValue.vt = property.vtDataType;
    if (id == 1) {
      property.vValue.iVal = static_cast<SHORT>(leaf->type);
    } else {
      property.vValue.lVal = static_cast<LONG>(leaf->access);
    }
  }
}

void FillProperties(const SimLeaf* leaf, const SimBrowseRequest& request,
                    OPCITEMPROPERTIES& properties) {
  std::vector<DWORD> ids = request.propertyIds;
  if (request.allProperties) ids = {1, OPC_PROPERTY_ACCESS_RIGHTS};
  // Only items have properties.
  if (!leaf || ids.empty()) return;
  properties.pItemProperties =
      static_cast<OPCITEMPROPERTY*>(CoTaskMemAlloc(sizeof(OPCITEMPROPERTY) * ids.size()));
  if (!properties.pItemProperties) {
    properties.hrErrorID = E_OUTOFMEMORY;
    return;
  }
  std::memset(properties.pItemProperties, 0, sizeof(OPCITEMPROPERTY) * ids.size());
  properties.dwNumProperties = static_cast<DWORD>(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    OPCITEMPROPERTY& property = properties.pItemProperties[i];
    FillProperty(leaf, ids[i], request.propertyValues, property);
    if (FAILED(property.hrErrorID)) properties.hrErrorID = S_FALSE;
  }
}

}  // namespace

HRESULT BrowseLevelPage(const SimBranch& level, const SimBrowseRequest& request,
                        SimBrowsePage& page) {
  std::vector<Entry> entries;
  for (const auto& branch : level.branches) entries.push_back({branch.get(), nullptr});
  for (const auto& leaf : level.leaves) entries.push_back({nullptr, leaf.get()});
  std::vector<Entry> passing;
  for (const Entry& entry : entries)
    if (Passes(entry, request)) passing.push_back(entry);

  const size_t first = std::min(request.first, passing.size());
  size_t last = passing.size();
  if (request.pageSize != 0 && last - first > request.pageSize) last = first + request.pageSize;
  page = SimBrowsePage{};
  page.next = last < passing.size() ? last : 0;
  if (last == first) return S_OK;
  page.elements =
      static_cast<OPCBROWSEELEMENT*>(CoTaskMemAlloc(sizeof(OPCBROWSEELEMENT) * (last - first)));
  if (!page.elements) return E_OUTOFMEMORY;
  std::memset(page.elements, 0, sizeof(OPCBROWSEELEMENT) * (last - first));
  page.count = static_cast<DWORD>(last - first);
  for (size_t i = first; i < last; ++i) {
    const Entry& entry = passing[i];
    OPCBROWSEELEMENT& element = page.elements[i - first];
    element.szName = U16ToCoTaskMem(entry.leaf ? entry.leaf->name : entry.branch->name);
    element.szItemID = U16ToCoTaskMem(entry.leaf ? entry.leaf->itemId : entry.branch->itemId);
    element.dwFlagValue = Flags(entry);
    FillProperties(entry.leaf, request, element.ItemProperties);
  }
  return S_OK;
}

}  // namespace opcsim
