// IOpcSimControl: the simulator's own interface on its server objects, through
// which tests (and integrators) switch faults and drive values at run time,
// in-process or through the real COM runtime. Fault and server texts use the
// JSON form of the configuration file (SimConfig.h).
#pragma once

#include "OPCDA.h"

struct IOpcSimControl : public IUnknown {
  // Merges fault switches given as the JSON text of a "faults" object;
  // GetStatus calls are counted again from 1.
  virtual HRESULT STDMETHODCALLTYPE SetFaults(LPCWSTR szFaultsJson) = 0;
  // Replaces the server's tree and faults with those of a server object's JSON
  // text. Server objects and items made from then on see the new tree.
  virtual HRESULT STDMETHODCALLTYPE Configure(LPCWSTR szServerJson) = 0;
  // Back to the definition loaded from the configuration file, values and
  // faults included.
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  // Sets an item's value (converted to its canonical type; NULL keeps the
  // value) and quality.
  virtual HRESULT STDMETHODCALLTYPE SetItemValue(LPCWSTR szItemID, VARIANT* pValue,
                                                 WORD wQuality) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetItemRefusesWrites(LPCWSTR szItemID, BOOL bRefuse) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBranchRefusesEntry(LPCWSTR szBranchID, BOOL bRefuse) = 0;
  // How often a method of the OPC interfaces (by name, e.g. L"GetStatus") was
  // called since the server was loaded, configured or reset.
  virtual HRESULT STDMETHODCALLTYPE GetCallCount(LPCWSTR szMethod, DWORD* pdwCount) = 0;
  // Simulator objects alive in this process (servers, groups, enumerators,
  // connection points).
  virtual HRESULT STDMETHODCALLTYPE GetLiveObjects(DWORD* pdwCount) = 0;
};
TG_DECLARE_UUID(IOpcSimControl, 0xDC33CB26, 0x1E27, 0x42CA, 0x99, 0xD2, 0x72, 0x08, 0x58, 0x15,
                0x00, 0xD9)
inline constexpr IID IID_IOpcSimControl = {
    0xDC33CB26, 0x1E27, 0x42CA, {0x99, 0xD2, 0x72, 0x08, 0x58, 0x15, 0x00, 0xD9}};
