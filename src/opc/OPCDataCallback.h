// Item records of a server connection's groups, the rule that turns OPC values into text, and the
// data-change sink that an OPC server calls for the "async" group.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "OPCComm.h"
#include "OPCTypes.h"

// One tag of a group with its last value.
struct OPCItemRec {
  std::u16string HashName;
  std::u16string LinkName;   // item identifier; empty when the tag is not in the tag table
  std::u16string Value;      // last value as text; empty until the first reading
  std::u16string Quality;    // "1" good, "0" otherwise; empty until the first reading
  uint32_t HItem = 0;        // server handle from the last add
  bool HasHandle = false;    // the last add gave HItem; otherwise the item is never read or written
  uint32_t IdxForASync = 0;  // client handle given to the server
};

// The items of one group in request order, with indexes by tag name and by client handle that
// give the same answer as a scan from the front (first match).
class TOPCItemRecArr {
 public:
  void Append(OPCItemRec Item);
  void Clear();
  size_t size() const { return Items.size(); }
  bool empty() const { return Items.empty(); }
  OPCItemRec& operator[](size_t I) { return Items[I]; }
  const OPCItemRec& operator[](size_t I) const { return Items[I]; }
  std::vector<OPCItemRec>::iterator begin() { return Items.begin(); }
  std::vector<OPCItemRec>::iterator end() { return Items.end(); }
  OPCItemRec* FindByHashName(const std::u16string& HashName);
  OPCItemRec* FindByClientHandle(uint32_t Handle);

 private:
  std::vector<OPCItemRec> Items;
  std::unordered_map<std::u16string, size_t> ByHashName;
  std::unordered_map<uint32_t, size_t> ByClientHandle;
};
using POPCItemRecArr = TOPCItemRecArr*;

inline constexpr char16_t UnreadValue[] = u"<Unread Value>";

// Reference-counted COM object: stores the changes of the "async" group in the connection's item
// array and pushes them at once through GetValues with transaction number 0. Only calls on the
// thread that made it are served: the item array belongs to that thread, and a free-threaded
// server calling from a thread of its own would race it. Other calls are ignored and counted.
class TOPCDataCallback final : public IOPCDataCallback {
 public:
  // AnyGoodQuality: every good quality (limit and substatus bits too) counts as good, as in the
  // "sync" read; otherwise only plain good (0xC0) does.
  TOPCDataCallback(POPCItemRecArr PASyncValsArr, TGetValuesCallBack GetValues, std::u16string Guid,
                   bool AnyGoodQuality = false);

  // The connection is going away: later notifications are ignored.
  void Detach() { PASyncValsArr = nullptr; }
  // Notifications that arrived on another thread than the maker's, ignored.
  uint32_t GetForeignCalls() const { return ForeignCalls.load(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Riid, void** Object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                         HRESULT hrMastererror, DWORD dwCount,
                                         OPCHANDLE* phClientItems, VARIANT* pvValues,
                                         WORD* pwQualities, FILETIME* pftTimeStamps,
                                         HRESULT* pErrors) override;
  HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                           HRESULT hrMasterquality, HRESULT hrMastererror,
                                           DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities,
                                           FILETIME* pftTimeStamps, HRESULT* pErrors) override;
  HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                            DWORD dwCount, OPCHANDLE* pClienthandles,
                                            HRESULT* pErrors) override;
  HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;

 private:
  ~TOPCDataCallback() = default;
  void Store(DWORD dwCount, const OPCHANDLE* phClientItems, const VARIANT* pvValues,
             const WORD* pwQualities);

  std::atomic<ULONG> RefCount{1};
  const std::thread::id OwnerThread = std::this_thread::get_id();
  std::atomic<uint32_t> ForeignCalls{0};
  POPCItemRecArr PASyncValsArr;
  TGetValuesCallBack GetValues;
  std::u16string Guid;
  const bool AnyGoodQuality;
};
