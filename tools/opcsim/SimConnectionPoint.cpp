#include "SimConnectionPoint.h"

namespace opcsim {

SimConnectionPoint::SimConnectionPoint(IConnectionPointContainer* container, const IID& iid,
                                       SimSinkHost* host)
    : container_(container), iid_(iid), host_(host) {
  container_->AddRef();
}

SimConnectionPoint::~SimConnectionPoint() {
  container_->Release();
}

HRESULT STDMETHODCALLTYPE SimConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (OfferInterface<IUnknown>(riid, IID_IUnknown, this, ppv) ||
      OfferInterface<IConnectionPoint>(riid, IID_IConnectionPoint, this, ppv))
    return S_OK;
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE SimConnectionPoint::GetConnectionInterface(IID* pIID) {
  if (!pIID) return E_POINTER;
  *pIID = iid_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE
SimConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
  if (!ppCPC) return E_POINTER;
  container_->AddRef();
  *ppCPC = container_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
  if (!pdwCookie) return E_POINTER;
  *pdwCookie = 0;
  if (!pUnkSink) return E_POINTER;
  return host_->AdviseSink(pUnkSink, pdwCookie);
}

HRESULT STDMETHODCALLTYPE SimConnectionPoint::Unadvise(DWORD dwCookie) {
  return host_->UnadviseSink(dwCookie);
}

HRESULT STDMETHODCALLTYPE SimConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  return E_NOTIMPL;
}

}  // namespace opcsim
