// A connection point for one outgoing interface of a container (a group's
// IOPCDataCallback, the server's IOPCShutdown). It keeps its container alive;
// the container keeps the connection.
#pragma once

#include "SimComBase.h"

namespace opcsim {

// What the container does with its single connection.
class SimSinkHost {
 public:
  virtual HRESULT AdviseSink(IUnknown* sink, DWORD* cookie) = 0;
  virtual HRESULT UnadviseSink(DWORD cookie) = 0;

 protected:
  ~SimSinkHost() = default;
};

class SimConnectionPoint final : public IConnectionPoint {
 public:
  SimConnectionPoint(IConnectionPointContainer* container, const IID& iid, SimSinkHost* host);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  OPCSIM_REFCOUNTED
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override;

 private:
  ~SimConnectionPoint();

  RefCount refs_;
  IConnectionPointContainer* container_;  // holds a reference
  IID iid_;
  SimSinkHost* host_;  // the container itself
};

}  // namespace opcsim
