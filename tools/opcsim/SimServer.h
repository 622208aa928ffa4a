// The simulated OPC DA 2.0 server object: groups, status, browsing, the
// shutdown connection point and the simulator's own control interface.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "SimControl.h"
#include "SimGroup.h"

namespace opcsim {

class SimServer final : public IOPCServer,
                        public IOPCCommon,
                        public IOPCBrowseServerAddressSpace,
                        public IOPCBrowse,
                        public IConnectionPointContainer,
                        public IOpcSimControl,
                        public SimSinkHost {
 public:
  explicit SimServer(std::shared_ptr<SimDevice> device);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  OPCSIM_REFCOUNTED

  // IOPCServer
  HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                     OPCHANDLE hClientGroup, LONG* pTimeBias,
                                     FLOAT* pPercentDeadband, DWORD dwLCID,
                                     OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                     REFIID riid, LPUNKNOWN* ppUnk) override;
  HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale,
                                           LPWSTR* ppString) override;
  HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
  HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
  HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
  HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                  LPUNKNOWN* ppUnk) override;

  // IOPCCommon
  HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override;
  HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) override;
  HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
  HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
  HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override;

  // IOPCBrowseServerAddressSpace
  HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
  HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                                 LPCWSTR szString) override;
  HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType,
                                             LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                                             DWORD dwAccessRightsFilter,
                                             LPENUMSTRING* ppIEnumString) override;
  HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
  HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID,
                                              LPENUMSTRING* ppIEnumString) override;

  // IOPCBrowse
  HRESULT STDMETHODCALLTYPE GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs,
                                          BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                                          DWORD* pdwPropertyIDs,
                                          OPCITEMPROPERTIES** ppItemProperties) override;
  HRESULT STDMETHODCALLTYPE Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint,
                                   DWORD dwMaxElementsReturned, OPCBROWSEFILTER dwBrowseFilter,
                                   LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                                   BOOL bReturnAllProperties, BOOL bReturnPropertyValues,
                                   DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                                   BOOL* pbMoreElements, DWORD* pdwCount,
                                   OPCBROWSEELEMENT** ppBrowseElements) override;

  // IConnectionPointContainer (IOPCShutdown)
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;
  HRESULT AdviseSink(IUnknown* sink, DWORD* cookie) override;
  HRESULT UnadviseSink(DWORD cookie) override;

  // IOpcSimControl
  HRESULT STDMETHODCALLTYPE SetFaults(LPCWSTR szFaultsJson) override;
  HRESULT STDMETHODCALLTYPE Configure(LPCWSTR szServerJson) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE SetItemValue(LPCWSTR szItemID, VARIANT* pValue, WORD wQuality) override;
  HRESULT STDMETHODCALLTYPE SetItemRefusesWrites(LPCWSTR szItemID, BOOL bRefuse) override;
  HRESULT STDMETHODCALLTYPE SetBranchRefusesEntry(LPCWSTR szBranchID, BOOL bRefuse) override;
  HRESULT STDMETHODCALLTYPE GetCallCount(LPCWSTR szMethod, DWORD* pdwCount) override;
  HRESULT STDMETHODCALLTYPE GetLiveObjects(DWORD* pdwCount) override;

 private:
  ~SimServer();
  // The branch at the browse position; the position goes back to the root if
  // the tree changed.
  SimBranch* Position(SimAddressSpace& space);

  RefCount refs_;
  std::shared_ptr<SimServerCore> core_;
  std::vector<std::u16string> position_;  // branch names from the root
  Microsoft::WRL::ComPtr<IOPCShutdown> shutdown_;
  DWORD shutdownCookie_ = 0;
};

// Text of a result code the simulator knows; empty for others.
std::u16string ErrorText(HRESULT code);

// Wildcard match: * any run, ? one character, # one digit; an empty pattern
// matches everything.
bool MatchesFilter(const std::u16string& text, const std::u16string& pattern);

}  // namespace opcsim
