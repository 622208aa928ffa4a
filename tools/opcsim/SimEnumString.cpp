#include "SimEnumString.h"

namespace opcsim {

SimEnumString::SimEnumString(std::vector<std::u16string> items)
    : items_(std::make_shared<const std::vector<std::u16string>>(std::move(items))) {}

SimEnumString::SimEnumString(std::shared_ptr<const std::vector<std::u16string>> items,
                             size_t position)
    : items_(std::move(items)), position_(position) {}

HRESULT STDMETHODCALLTYPE SimEnumString::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (OfferInterface<IUnknown>(riid, IID_IUnknown, this, ppv) ||
      OfferInterface<IEnumString>(riid, IID_IEnumString, this, ppv))
    return S_OK;
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE SimEnumString::Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) {
  if (!rgelt || (!pceltFetched && celt != 1)) return E_POINTER;
  ULONG fetched = 0;
  while (fetched < celt && position_ < items_->size()) {
    LPWSTR copy = U16ToCoTaskMem((*items_)[position_]);
    if (!copy) {
      for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(rgelt[i]);
      if (pceltFetched) *pceltFetched = 0;
      return E_OUTOFMEMORY;
    }
    rgelt[fetched++] = copy;
    ++position_;
  }
  if (pceltFetched) *pceltFetched = fetched;
  return fetched == celt ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE SimEnumString::Skip(ULONG celt) {
  const size_t left = items_->size() - position_;
  position_ += celt < left ? celt : left;
  return celt <= left ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE SimEnumString::Reset() {
  position_ = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimEnumString::Clone(IEnumString** ppenum) {
  if (!ppenum) return E_POINTER;
  *ppenum = new SimEnumString(items_, position_);
  return S_OK;
}

}  // namespace opcsim
