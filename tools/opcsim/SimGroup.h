// A group of a simulated server object: its items, synchronous reads and
// writes, its state, and the data-change connection through which it calls the
// client back on the client's thread.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "SimComBase.h"
#include "SimConnectionPoint.h"
#include "SimDevice.h"
#include "SimTimer.h"

namespace opcsim {

struct SimServerCore;

struct SimGroupSettings {
  std::u16string name;
  BOOL active = TRUE;
  DWORD updateRate = 0;  // revised
  OPCHANDLE clientHandle = 0;
  OPCHANDLE serverHandle = 0;
  LONG timeBias = 0;
  FLOAT deadband = 0;
  LCID lcid = 0;
};

class SimGroup final : public IOPCItemMgt,
                       public IOPCSyncIO,
                       public IOPCGroupStateMgt,
                       public IConnectionPointContainer,
                       public SimSinkHost {
 public:
  SimGroup(std::shared_ptr<SimServerCore> core, SimGroupSettings settings);

  // The update rate the simulator gives a request: rounded up to a multiple of
  // 10 ms, at least 10.
  static DWORD ReviseRate(DWORD requested);

  const std::u16string& Name() const { return settings_.name; }
  OPCHANDLE ServerHandle() const { return settings_.serverHandle; }
  ULONG References() const { return refs_.Count(); }
  // Removed from the server: from now on every call fails and no callback is
  // made.
  void MarkDeleted();
  // Sends what changed to the advised sink when the update period is due (or a
  // full set is owed). A tick of the group's own timer is due on the timer's
  // grid, whatever the lateness of the tick before it.
  void FireIfDue(bool tick = false);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  OPCSIM_REFCOUNTED

  // IOPCItemMgt
  HRESULT STDMETHODCALLTYPE AddItems(DWORD dwCount, OPCITEMDEF* pItemArray,
                                     OPCITEMRESULT** ppAddResults, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                          OPCITEMRESULT** ppValidationResults,
                                          HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE RemoveItems(DWORD dwCount, OPCHANDLE* phServer,
                                        HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                           HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD dwCount, OPCHANDLE* phServer,
                                             OPCHANDLE* phClient, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD dwCount, OPCHANDLE* phServer,
                                         VARTYPE* pRequestedDatatypes, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override;

  // IOPCSyncIO
  HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                 OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                  HRESULT** ppErrors) override;

  // IOPCGroupStateMgt
  HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                     LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                     OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) override;
  HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                     BOOL* pActive, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                     DWORD* pLCID, OPCHANDLE* phClientGroup) override;
  HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) override;
  HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

  // SimSinkHost
  HRESULT AdviseSink(IUnknown* sink, DWORD* cookie) override;
  HRESULT UnadviseSink(DWORD cookie) override;

 private:
  struct Item {
    std::u16string itemId;
    std::shared_ptr<SimLeaf> leaf;
    OPCHANDLE clientHandle = 0;
    BOOL active = TRUE;
    VARTYPE requested = VT_EMPTY;
    uint64_t sentVersion = 0;
    bool owed = true;  // the next callback carries it whatever its version
  };

  ~SimGroup();
  // Counts the call, waits any configured delay and makes due callbacks; false
  // once deleted.
  bool EnterCall(const char* method);
  HRESULT CheckItem(const OPCITEMDEF& def, std::shared_ptr<SimLeaf>& leaf, SimSample& sample);
  HRESULT CheckItems(DWORD count, OPCITEMDEF* defs, OPCITEMRESULT** results, HRESULT** errors);
  void UpdateTimer();
  void SendChanges(const std::vector<Item*>& items);

  RefCount refs_;
  std::shared_ptr<SimServerCore> core_;
  std::shared_ptr<SimDevice> device_;
  SimGroupSettings settings_;
  std::map<OPCHANDLE, Item> items_;
  OPCHANDLE lastItemHandle_ = 0;
  bool deleted_ = false;

  Microsoft::WRL::ComPtr<IOPCDataCallback> sink_;
  DWORD cookie_ = 0;
  DWORD lastCookie_ = 0;
  bool firing_ = false;
  bool owedAll_ = false;
  std::chrono::steady_clock::time_point lastUpdate_{};
  SimTimer timer_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // the timer's check that we still exist
};

// The state one server object shares with its groups.
struct SimServerCore {
  explicit SimServerCore(std::shared_ptr<SimDevice> d) : device(std::move(d)) {}

  // Counts the call, waits any configured delay, then makes the callbacks that
  // are due: an apartment server calls its client back while the client is
  // inside a call to it.
  void EnterCall(const char* method);
  void FireDue();

  std::shared_ptr<SimDevice> device;
  std::map<OPCHANDLE, Microsoft::WRL::ComPtr<SimGroup>> groups;
  OPCHANDLE lastGroupHandle = 0;
  LCID lcid = LOCALE_SYSTEM_DEFAULT;
  std::u16string clientName;
  bool firing = false;
};

}  // namespace opcsim
