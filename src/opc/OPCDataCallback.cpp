#include "OPCDataCallback.h"

#include <utility>

void TOPCItemRecArr::Append(OPCItemRec Item) {
  const size_t Index = Items.size();
  ByHashName.emplace(Item.HashName, Index);  // emplace keeps the first entry of a name
  ByClientHandle.emplace(Item.IdxForASync, Index);
  Items.push_back(std::move(Item));
}

void TOPCItemRecArr::Clear() {
  Items.clear();
  ByHashName.clear();
  ByClientHandle.clear();
}

OPCItemRec* TOPCItemRecArr::FindByHashName(const std::u16string& HashName) {
  auto It = ByHashName.find(HashName);
  return It == ByHashName.end() ? nullptr : &Items[It->second];
}

OPCItemRec* TOPCItemRecArr::FindByClientHandle(uint32_t Handle) {
  auto It = ByClientHandle.find(Handle);
  return It == ByClientHandle.end() ? nullptr : &Items[It->second];
}

TOPCDataCallback::TOPCDataCallback(POPCItemRecArr PASyncValsArr, TGetValuesCallBack GetValues,
                                   std::u16string Guid, bool AnyGoodQuality)
    : PASyncValsArr(PASyncValsArr),
      GetValues(std::move(GetValues)),
      Guid(std::move(Guid)),
      AnyGoodQuality(AnyGoodQuality) {}

HRESULT STDMETHODCALLTYPE TOPCDataCallback::QueryInterface(REFIID Riid, void** Object) {
  if (Object == nullptr) return E_POINTER;
  if (IsEqualIID(Riid, IID_IUnknown) || IsEqualIID(Riid, IID_IOPCDataCallback)) {
    *Object = static_cast<IOPCDataCallback*>(this);
    AddRef();
    return S_OK;
  }
  *Object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TOPCDataCallback::AddRef() {
  return ++RefCount;
}

ULONG STDMETHODCALLTYPE TOPCDataCallback::Release() {
  const ULONG Left = --RefCount;
  if (Left == 0) delete this;
  return Left;
}

HRESULT STDMETHODCALLTYPE TOPCDataCallback::OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT,
                                                         DWORD dwCount, OPCHANDLE* phClientItems,
                                                         VARIANT* pvValues, WORD* pwQualities,
                                                         FILETIME*, HRESULT*) {
  if (std::this_thread::get_id() != OwnerThread) {
    ++ForeignCalls;
    return S_OK;
  }
  if (PASyncValsArr == nullptr || phClientItems == nullptr || pvValues == nullptr ||
      pwQualities == nullptr)
    return S_OK;
  try {
    Store(dwCount, phClientItems, pvValues, pwQualities);
  } catch (...) {
    // The server always gets S_OK back; a failed push is lost.
  }
  return S_OK;
}

void TOPCDataCallback::Store(DWORD dwCount, const OPCHANDLE* phClientItems, const VARIANT* pvValues,
                             const WORD* pwQualities) {
  TArray Names;
  TArray Values;
  TArray Qualities;
  for (DWORD K = 0; K < dwCount; ++K) {
    OPCItemRec* Entry = PASyncValsArr->FindByClientHandle(phClientItems[K]);
    if (Entry == nullptr) continue;
    Names.push_back(Entry->HashName);
    const bool Good = AnyGoodQuality ? (pwQualities[K] & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD
                                     : pwQualities[K] == OPC_QUALITY_GOOD;
    if (Good) {
      std::u16string Text;
      if (SUCCEEDED(VariantToText(pvValues[K], Text))) {
        Entry->Value = std::move(Text);
        Entry->Quality = u"1";
      } else {
        Entry->Value = UnreadValue;
        Entry->Quality = u"0";
      }
      Values.push_back(Entry->Value);
      Qualities.push_back(Entry->Quality);
    } else {
      // Not good (by default anything but plain good, limit bits included): no value pushed,
      // the stored one kept.
      Entry->Quality = u"0";
      Values.emplace_back();
      Qualities.emplace_back(u"0");
    }
  }
  if (!Names.empty() && GetValues) GetValues(Guid, 0, Names, Values, Qualities);
}

HRESULT STDMETHODCALLTYPE TOPCDataCallback::OnReadComplete(
    DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
    DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
    FILETIME* pftTimeStamps, HRESULT* pErrors) {
  return OnDataChange(dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount, phClientItems,
                      pvValues, pwQualities, pftTimeStamps, pErrors);
}

HRESULT STDMETHODCALLTYPE TOPCDataCallback::OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD,
                                                            OPCHANDLE*, HRESULT*) {
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TOPCDataCallback::OnCancelComplete(DWORD, OPCHANDLE) {
  return S_OK;
}
