// The elements IOPCBrowse::Browse hands out for one level of a simulated address space: branches
// first, then leaves, each with its flags and the properties asked for, split into pages at
// continuation points (the index of the next element, as text).
#pragma once

#include <string>
#include <vector>

#include "SimAddressSpace.h"

namespace opcsim {

struct SimBrowseRequest {
  OPCBROWSEFILTER filter = OPC_BROWSE_FILTER_ALL;
  std::u16string nameFilter;
  bool allProperties = false;
  bool propertyValues = false;
  std::vector<DWORD> propertyIds;
  size_t first = 0;     // index of the first element of this page
  size_t pageSize = 0;  // 0: the rest of the level
};

struct SimBrowsePage {
  OPCBROWSEELEMENT* elements = nullptr;  // CoTaskMem, as the caller receives it
  DWORD count = 0;
  size_t next = 0;  // index of the element after the page; 0 when the level is done
};

// Builds one page of the level; E_OUTOFMEMORY (and nothing allocated) when memory runs out.
HRESULT BrowseLevelPage(const SimBranch& level, const SimBrowseRequest& request,
                        SimBrowsePage& page);

}  // namespace opcsim
