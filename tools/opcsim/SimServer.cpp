#include "SimServer.h"

#include <cstdint>
#include <functional>
#include <limits>

#include "SimElementBrowse.h"
#include "SimEnumString.h"

namespace opcsim {

namespace {

using Microsoft::WRL::ComPtr;

constexpr WORD kMajorVersion = 1, kMinorVersion = 0, kBuildNumber = 1;

HRESULT HandOutEnumerator(std::vector<std::u16string> names, LPENUMSTRING* out) {
  const bool empty = names.empty();
  *out = new SimEnumString(std::move(names));
  return empty ? S_FALSE : S_OK;
}

bool Matches(const SimLeaf& leaf, const std::u16string& name, const std::u16string& filter,
             VARTYPE vt, DWORD rights) {
  return MatchesFilter(name, filter) && (vt == VT_EMPTY || leaf.type == vt) &&
         (rights == 0 || (leaf.access & rights) != 0);
}

void CollectFlat(const SimBranch& branch, const std::u16string& filter, VARTYPE vt, DWORD rights,
                 std::vector<std::u16string>& out) {
  for (const auto& leaf : branch.leaves)
    if (Matches(*leaf, leaf->name, filter, vt, rights)) out.push_back(leaf->itemId);
  for (const auto& child : branch.branches) CollectFlat(*child, filter, vt, rights, out);
}

}  // namespace

bool MatchesFilter(const std::u16string& text, const std::u16string& pattern) {
  if (pattern.empty()) return true;
  // Iterative wildcard match with one backtrack point for the last '*'.
  size_t t = 0, p = 0, star = std::u16string::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() &&
        (pattern[p] == u'?' || (pattern[p] == u'#' && text[t] >= u'0' && text[t] <= u'9') ||
         (pattern[p] != u'*' && pattern[p] != u'#' && pattern[p] == text[t]))) {
      ++t, ++p;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = t;
    } else if (star != std::u16string::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

std::u16string ErrorText(HRESULT code) {
  switch (code) {
    case S_OK:
      return u"The operation succeeded.";
    case S_FALSE:
      return u"The operation succeeded with per-item errors.";
    case E_FAIL:
      return u"The operation failed.";
    case E_INVALIDARG:
      return u"An argument is not valid.";
    case E_OUTOFMEMORY:
      return u"Not enough memory.";
    case E_NOINTERFACE:
      return u"The interface is not supported.";
    case E_NOTIMPL:
      return u"The function is not implemented.";
    case OPC_E_INVALIDHANDLE:
      return u"The handle is not valid.";
    case OPC_E_BADTYPE:
      return u"The value cannot be converted to or from the item's type.";
    case OPC_E_PUBLIC:
      return u"The operation is not allowed on a public group.";
    case OPC_E_BADRIGHTS:
      return u"The item's access rights do not allow the operation.";
    case OPC_E_UNKNOWNITEMID:
      return u"The item is not in the server's address space.";
    case OPC_E_INVALIDITEMID:
      return u"The item identifier is not well formed.";
    case OPC_E_INVALIDFILTER:
      return u"The filter is not valid.";
    case OPC_E_UNKNOWNPATH:
      return u"The access path is not known.";
    case OPC_E_RANGE:
      return u"The value is out of range.";
    case OPC_E_DUPLICATENAME:
      return u"A group of that name already exists.";
    case OPC_S_UNSUPPORTEDRATE:
      return u"The server does not support the update rate; it was revised.";
    case OPC_S_CLAMP:
      return u"The value was clamped to the item's range.";
    case OPC_S_INUSE:
      return u"The group is still referenced; it is removed when released.";
    default:
      return {};
  }
}

SimServer::SimServer(std::shared_ptr<SimDevice> device)
    : core_(std::make_shared<SimServerCore>(std::move(device))) {}

SimServer::~SimServer() {
  // Groups still held by the client live on without the server's reference.
  core_->groups.clear();
}

HRESULT STDMETHODCALLTYPE SimServer::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (OfferInterface<IOPCServer>(riid, IID_IUnknown, this, ppv) ||
      OfferInterface<IOPCServer>(riid, IID_IOPCServer, this, ppv) ||
      OfferInterface<IOPCCommon>(riid, IID_IOPCCommon, this, ppv) ||
      (!core_->device->Faults().browserMissing &&
       OfferInterface<IOPCBrowseServerAddressSpace>(riid, IID_IOPCBrowseServerAddressSpace, this,
                                                    ppv)) ||
      (!core_->device->Faults().browseElementsMissing &&
       OfferInterface<IOPCBrowse>(riid, IID_IOPCBrowse, this, ppv)) ||
      OfferInterface<IConnectionPointContainer>(riid, IID_IConnectionPointContainer, this, ppv) ||
      OfferInterface<IOpcSimControl>(riid, IID_IOpcSimControl, this, ppv))
    return S_OK;
  return E_NOINTERFACE;
}

// ---------------------------------------------------------------- IOPCServer
HRESULT STDMETHODCALLTYPE SimServer::AddGroup(LPCWSTR szName, BOOL bActive,
                                              DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                                              LONG* pTimeBias, FLOAT* pPercentDeadband,
                                              DWORD dwLCID, OPCHANDLE* phServerGroup,
                                              DWORD* pRevisedUpdateRate, REFIID riid,
                                              LPUNKNOWN* ppUnk) {
  if (!phServerGroup || !pRevisedUpdateRate || !ppUnk) return E_POINTER;
  *ppUnk = nullptr;
  *phServerGroup = 0;
  *pRevisedUpdateRate = 0;
  core_->EnterCall("AddGroup");
  if (core_->device->Faults().addGroupFails) return E_FAIL;
  if (pPercentDeadband && (*pPercentDeadband < 0 || *pPercentDeadband > 100)) return E_INVALIDARG;
  auto taken = [&](const std::u16string& name) {
    for (const auto& [handle, group] : core_->groups)
      if (group->Name() == name) return true;
    return false;
  };
  SimGroupSettings settings;
  settings.name = OleToU16(szName);
  if (settings.name.empty()) {
    for (OPCHANDLE n = core_->lastGroupHandle + 1; settings.name.empty() || taken(settings.name);
         ++n) {
      const std::string text = "Group" + std::to_string(n);
      settings.name.assign(text.begin(), text.end());
    }
  } else if (taken(settings.name)) {
    return OPC_E_DUPLICATENAME;
  }
  settings.active = bActive ? TRUE : FALSE;
  settings.updateRate = SimGroup::ReviseRate(dwRequestedUpdateRate);
  settings.clientHandle = hClientGroup;
  settings.serverHandle = core_->lastGroupHandle + 1;
  settings.timeBias = pTimeBias ? *pTimeBias : 0;
  settings.deadband = pPercentDeadband ? *pPercentDeadband : 0.0f;
  settings.lcid = dwLCID;
  ComPtr<SimGroup> group;
  *group.ReleaseAndGetAddressOf() = new SimGroup(core_, settings);
  if (FAILED(group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk)))) return E_NOINTERFACE;
  core_->lastGroupHandle = settings.serverHandle;
  core_->groups[settings.serverHandle] = group;
  *phServerGroup = settings.serverHandle;
  *pRevisedUpdateRate = settings.updateRate;
  return settings.updateRate == dwRequestedUpdateRate ? S_OK : OPC_S_UNSUPPORTEDRATE;
}

HRESULT STDMETHODCALLTYPE SimServer::GetErrorString(HRESULT dwError, LCID, LPWSTR* ppString) {
  return GetErrorString(dwError, ppString);
}

HRESULT STDMETHODCALLTYPE SimServer::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
  if (!ppUnk) return E_POINTER;
  *ppUnk = nullptr;
  core_->EnterCall("GetGroupByName");
  const std::u16string name = OleToU16(szName);
  for (const auto& [handle, group] : core_->groups)
    if (group->Name() == name) return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
  return E_INVALIDARG;
}

// Calls itself with a frame of 1 KiB each time until the stack is gone. The bound is never
// reached; it keeps the call from being an endless recursion to the compiler.
static __attribute__((noinline)) int Recurse(int depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  if (depth == std::numeric_limits<int>::max()) return frame[0];
  return Recurse(depth + 1) + frame[0];
}

HRESULT STDMETHODCALLTYPE SimServer::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
  if (!ppServerStatus) return E_POINTER;
  *ppServerStatus = nullptr;
  core_->EnterCall("GetStatus");
  if (core_->device->Faults().statusCrashes) {
    // The address comes from memory the compiler cannot see through, so the write is made as
    // written and faults, instead of being turned into a trap instruction.
    static volatile std::uintptr_t nowhere = 0;
    *reinterpret_cast<volatile int*>(nowhere) = 1;
  }
  if (core_->device->Faults().statusOverflows) Recurse(0);
  OPCSERVERSTATE state = OPC_STATUS_RUNNING;
  const HRESULT hr = core_->device->NextStatus(state);
  if (FAILED(hr)) return hr;
  auto* status = static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS)));
  LPWSTR vendor = U16ToCoTaskMem(core_->device->Vendor() + u" " + core_->device->Description());
  if (!status || !vendor) {
    CoTaskMemFree(status);
    CoTaskMemFree(vendor);
    return E_OUTOFMEMORY;
  }
  *status = OPCSERVERSTATUS{};
  status->ftStartTime = core_->device->StartTime();
  CoFileTimeNow(&status->ftCurrentTime);
  status->ftLastUpdateTime = status->ftCurrentTime;
  status->dwServerState = state;
  status->dwGroupCount = static_cast<DWORD>(core_->groups.size());
  status->dwBandWidth = 0xFFFFFFFF;
  status->wMajorVersion = kMajorVersion;
  status->wMinorVersion = kMinorVersion;
  status->wBuildNumber = kBuildNumber;
  status->szVendorInfo = vendor;
  *ppServerStatus = status;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimServer::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
  core_->EnterCall("RemoveGroup");
  auto it = core_->groups.find(hServerGroup);
  if (it == core_->groups.end()) return E_FAIL;
  ComPtr<SimGroup> group = it->second;
  core_->groups.erase(it);
  const bool inUse = group->References() > 1;  // beyond the one held here
  if (inUse) group->MarkDeleted();
  return inUse && !bForce ? OPC_S_INUSE : S_OK;
}

HRESULT STDMETHODCALLTYPE SimServer::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                           LPUNKNOWN* ppUnk) {
  if (!ppUnk) return E_POINTER;
  *ppUnk = nullptr;
  core_->EnterCall("CreateGroupEnumerator");
  if (dwScope < OPC_ENUM_PRIVATE_CONNECTIONS || dwScope > OPC_ENUM_ALL) return E_INVALIDARG;
  if (!IsEqualIID(riid, IID_IEnumString)) return E_NOINTERFACE;
  std::vector<std::u16string> names;
  if (dwScope != OPC_ENUM_PUBLIC && dwScope != OPC_ENUM_PUBLIC_CONNECTIONS)
    for (const auto& [handle, group] : core_->groups) names.push_back(group->Name());
  LPENUMSTRING enumerator = nullptr;
  const HRESULT hr = HandOutEnumerator(std::move(names), &enumerator);
  *ppUnk = enumerator;
  return hr;
}

// ---------------------------------------------------------------- IOPCCommon
HRESULT STDMETHODCALLTYPE SimServer::SetLocaleID(LCID dwLcid) {
  core_->EnterCall("SetLocaleID");
  if (dwLcid != 0 && dwLcid != LOCALE_SYSTEM_DEFAULT && dwLcid != LOCALE_USER_DEFAULT &&
      dwLcid != 0x0409)
    return E_INVALIDARG;
  core_->lcid = dwLcid;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimServer::GetLocaleID(LCID* pdwLcid) {
  if (!pdwLcid) return E_POINTER;
  core_->EnterCall("GetLocaleID");
  *pdwLcid = core_->lcid;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimServer::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
  if (!pdwCount || !pdwLcid) return E_POINTER;
  *pdwCount = 0;
  *pdwLcid = nullptr;
  core_->EnterCall("QueryAvailableLocaleIDs");
  auto* ids = static_cast<LCID*>(CoTaskMemAlloc(3 * sizeof(LCID)));
  if (!ids) return E_OUTOFMEMORY;
  ids[0] = LOCALE_SYSTEM_DEFAULT;
  ids[1] = LOCALE_USER_DEFAULT;
  ids[2] = 0x0409;
  *pdwCount = 3;
  *pdwLcid = ids;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimServer::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
  if (!ppString) return E_POINTER;
  *ppString = nullptr;
  core_->EnterCall("GetErrorString");
  const std::u16string text = ErrorText(dwError);
  if (text.empty()) return E_INVALIDARG;
  *ppString = U16ToCoTaskMem(text);
  return *ppString ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE SimServer::SetClientName(LPCWSTR szName) {
  core_->EnterCall("SetClientName");
  core_->clientName = OleToU16(szName);
  return S_OK;
}

// ---------------------------------------------------------------- browsing
SimBranch* SimServer::Position(SimAddressSpace& space) {
  SimBranch* branch = &space.Root();
  for (const std::u16string& name : position_) {
    branch = branch->FindBranch(name);
    if (!branch) {
      position_.clear();
      return &space.Root();
    }
  }
  return branch;
}

HRESULT STDMETHODCALLTYPE SimServer::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
  if (!pNameSpaceType) return E_POINTER;
  core_->EnterCall("QueryOrganization");
  *pNameSpaceType = OPC_NS_HIERARCHIAL;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimServer::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                                          LPCWSTR szString) {
  core_->EnterCall("ChangeBrowsePosition");
  std::shared_ptr<SimAddressSpace> space = core_->device->Space();
  SimBranch* here = Position(*space);
  const std::u16string text = OleToU16(szString);
  switch (dwBrowseDirection) {
    case OPC_BROWSE_UP:
      if (position_.empty()) return E_FAIL;
      position_.pop_back();
      return S_OK;
    case OPC_BROWSE_DOWN: {
      SimBranch* child = here->FindBranch(text);
      if (!child) return E_INVALIDARG;
      if (child->refuseEntry) return E_FAIL;
      // A server whose browse position never moves: to a client its tree never ends.
      if (core_->device->Faults().browseStuck) return S_OK;
      position_.push_back(text);
      return S_OK;
    }
    case OPC_BROWSE_TO: {
      if (text.empty()) {
        position_.clear();
        return S_OK;
      }
      SimBranch* target = space->FindBranchById(text);
      if (!target) return E_INVALIDARG;
      if (target->refuseEntry) return E_FAIL;
      std::vector<std::u16string> path;
      for (SimBranch* b = target; b && b->parent; b = b->parent) path.insert(path.begin(), b->name);
      position_ = std::move(path);
      return S_OK;
    }
    default:
      return E_INVALIDARG;
  }
}

HRESULT STDMETHODCALLTYPE SimServer::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType,
                                                      LPCWSTR szFilterCriteria,
                                                      VARTYPE vtDataTypeFilter,
                                                      DWORD dwAccessRightsFilter,
                                                      LPENUMSTRING* ppIEnumString) {
  if (!ppIEnumString) return E_POINTER;
  *ppIEnumString = nullptr;
  core_->EnterCall("BrowseOPCItemIDs");
  std::shared_ptr<SimAddressSpace> space = core_->device->Space();
  const SimBranch* here = Position(*space);
  const std::u16string filter = OleToU16(szFilterCriteria);
  std::vector<std::u16string> names;
  switch (dwBrowseFilterType) {
    case OPC_BRANCH:
      for (const auto& child : here->branches)
        if (MatchesFilter(child->name, filter)) names.push_back(child->name);
      break;
    case OPC_LEAF:
      if (position_.empty() && core_->device->Faults().rootLeavesFail) return E_FAIL;
      for (const auto& leaf : here->leaves)
        if (Matches(*leaf, leaf->name, filter, vtDataTypeFilter, dwAccessRightsFilter))
          names.push_back(leaf->name);
      break;
    case OPC_FLAT:
      CollectFlat(*here, filter, vtDataTypeFilter, dwAccessRightsFilter, names);
      break;
    default:
      return E_INVALIDARG;
  }
  return HandOutEnumerator(std::move(names), ppIEnumString);
}

HRESULT STDMETHODCALLTYPE SimServer::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
  if (!szItemID) return E_POINTER;
  *szItemID = nullptr;
  core_->EnterCall("GetItemID");
  std::shared_ptr<SimAddressSpace> space = core_->device->Space();
  const SimBranch* here = Position(*space);
  const std::u16string name = OleToU16(szItemDataID);
  std::u16string id;
  if (name.empty()) {
    id = here->itemId;
  } else if (auto leaf = here->FindLeaf(name)) {
    id = leaf->itemId;
  } else if (const SimBranch* branch = here->FindBranch(name)) {
    id = branch->itemId;
  } else {
    return E_INVALIDARG;
  }
  *szItemID = U16ToCoTaskMem(id);
  return *szItemID ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE SimServer::BrowseAccessPaths(LPCWSTR, LPENUMSTRING* ppIEnumString) {
  if (ppIEnumString) *ppIEnumString = nullptr;
  core_->EnterCall("BrowseAccessPaths");
  return E_NOTIMPL;
}

// ---------------------------------------------------------------- IOPCBrowse
HRESULT STDMETHODCALLTYPE SimServer::GetProperties(DWORD, LPWSTR*, BOOL, DWORD, DWORD*,
                                                   OPCITEMPROPERTIES** ppItemProperties) {
  if (ppItemProperties) *ppItemProperties = nullptr;
  core_->EnterCall("GetProperties");
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE SimServer::Browse(
    LPWSTR szItemID, LPWSTR* pszContinuationPoint, DWORD dwMaxElementsReturned,
    OPCBROWSEFILTER dwBrowseFilter, LPWSTR szElementNameFilter, LPWSTR, BOOL bReturnAllProperties,
    BOOL bReturnPropertyValues, DWORD dwPropertyCount, DWORD* pdwPropertyIDs, BOOL* pbMoreElements,
    DWORD* pdwCount, OPCBROWSEELEMENT** ppBrowseElements) {
  if (!pszContinuationPoint || !pbMoreElements || !pdwCount || !ppBrowseElements) return E_POINTER;
  *pbMoreElements = FALSE;
  *pdwCount = 0;
  *ppBrowseElements = nullptr;
  core_->EnterCall("Browse");
  const SimFaults faults = core_->device->Faults();
  if (faults.browseElementsFails) return E_FAIL;
  if (dwBrowseFilter < OPC_BROWSE_FILTER_ALL || dwBrowseFilter > OPC_BROWSE_FILTER_ITEMS ||
      (dwPropertyCount != 0 && !pdwPropertyIDs))
    return E_INVALIDARG;
  std::shared_ptr<SimAddressSpace> space = core_->device->Space();
  const std::u16string id = OleToU16(szItemID);
  const SimBranch* level = &space->Root();
  if (!id.empty() && !faults.browseStuck) {
    level = space->FindBranchById(id);
    if (!level) return OPC_E_UNKNOWNITEMID;
    if (level->refuseEntry) return E_FAIL;
  }

  SimBrowseRequest request;
  request.filter = dwBrowseFilter;
  request.nameFilter = OleToU16(szElementNameFilter);
  request.allProperties = bReturnAllProperties != FALSE;
  request.propertyValues = bReturnPropertyValues != FALSE;
  request.propertyIds.assign(pdwPropertyIDs, pdwPropertyIDs + dwPropertyCount);
  // The continuation point is the index of the next element, as text.
  const std::u16string point = OleToU16(*pszContinuationPoint);
  for (char16_t c : point) {
    if (c < u'0' || c > u'9' || request.first > 100000000) return OPC_E_INVALIDCONTINUATIONPOINT;
    request.first = request.first * 10 + static_cast<size_t>(c - u'0');
  }
  request.pageSize = faults.browsePageSize;
  if (dwMaxElementsReturned != 0 &&
      (request.pageSize == 0 || dwMaxElementsReturned < request.pageSize))
    request.pageSize = dwMaxElementsReturned;

  SimBrowsePage page;
  const HRESULT hr = BrowseLevelPage(*level, request, page);
  if (FAILED(hr)) return hr;
  // The caller's point is replaced: by the next one, or by none when the level is done.
  CoTaskMemFree(*pszContinuationPoint);
  *pszContinuationPoint = nullptr;
  if (page.next != 0) {
    const std::string digits = std::to_string(page.next);
    *pszContinuationPoint = U16ToCoTaskMem(std::u16string(digits.begin(), digits.end()));
  }
  *pdwCount = page.count;
  *ppBrowseElements = page.elements;
  return S_OK;
}

// ---------------------------------------------------------------- shutdown
// connection
HRESULT STDMETHODCALLTYPE SimServer::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE SimServer::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (!ppCP) return E_POINTER;
  *ppCP = nullptr;
  core_->EnterCall("FindConnectionPoint");
  if (!IsEqualIID(riid, IID_IOPCShutdown)) return CONNECT_E_NOCONNECTION;
  *ppCP = new SimConnectionPoint(this, IID_IOPCShutdown, this);
  return S_OK;
}

HRESULT SimServer::AdviseSink(IUnknown* sink, DWORD* cookie) {
  if (shutdown_) return CONNECT_E_ADVISELIMIT;
  if (FAILED(sink->QueryInterface(IID_IOPCShutdown,
                                  reinterpret_cast<void**>(shutdown_.GetAddressOf()))))
    return CONNECT_E_CANNOTCONNECT;
  *cookie = shutdownCookie_ = 1;
  return S_OK;
}

HRESULT SimServer::UnadviseSink(DWORD cookie) {
  if (!shutdown_ || cookie != shutdownCookie_) return CONNECT_E_NOCONNECTION;
  shutdown_.Reset();
  shutdownCookie_ = 0;
  return S_OK;
}

// ----------------------------------------------------------------
// IOpcSimControl
HRESULT STDMETHODCALLTYPE SimServer::SetFaults(LPCWSTR szFaultsJson) {
  std::u16string error;
  return core_->device->SetFaults(OleToU16(szFaultsJson), error) ? S_OK : E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE SimServer::Configure(LPCWSTR szServerJson) {
  std::u16string error;
  if (!core_->device->Configure(OleToU16(szServerJson), error)) return E_INVALIDARG;
  position_.clear();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimServer::Reset() {
  core_->device->Reset();
  position_.clear();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimServer::SetItemValue(LPCWSTR szItemID, VARIANT* pValue,
                                                  WORD wQuality) {
  return core_->device->SetItemValue(OleToU16(szItemID), pValue, wQuality);
}

HRESULT STDMETHODCALLTYPE SimServer::SetItemRefusesWrites(LPCWSTR szItemID, BOOL bRefuse) {
  return core_->device->SetItemWritable(OleToU16(szItemID), bRefuse != FALSE);
}

HRESULT STDMETHODCALLTYPE SimServer::SetBranchRefusesEntry(LPCWSTR szBranchID, BOOL bRefuse) {
  return core_->device->SetBranchRefusesEntry(OleToU16(szBranchID), bRefuse != FALSE);
}

HRESULT STDMETHODCALLTYPE SimServer::GetCallCount(LPCWSTR szMethod, DWORD* pdwCount) {
  if (!pdwCount) return E_POINTER;
  *pdwCount = core_->device->CallCount(OleToU16(szMethod));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimServer::GetLiveObjects(DWORD* pdwCount) {
  if (!pdwCount) return E_POINTER;
  *pdwCount = static_cast<DWORD>(LiveObjects().load());
  return S_OK;
}

}  // namespace opcsim
