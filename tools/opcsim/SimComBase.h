// Reference counting shared by the simulator's COM objects, and the count of
// live objects that tells whether the DLL may be unloaded.
#pragma once

#include <atomic>

#include "ComApi.h"

namespace opcsim {

// Live COM objects and server locks of the simulator in this process.
std::atomic<long>& LiveObjects();
std::atomic<long>& ServerLocks();

// A member of every simulator COM object: counts references and live objects.
class RefCount {
 public:
  RefCount() { ++LiveObjects(); }
  ~RefCount() { --LiveObjects(); }
  RefCount(const RefCount&) = delete;
  RefCount& operator=(const RefCount&) = delete;

  ULONG AddRef() { return ++refs_; }
  ULONG Release() { return --refs_; }
  ULONG Count() const { return refs_; }

 private:
  std::atomic<ULONG> refs_{1};
};

// Answers QueryInterface with `self` cast to Interface when riid names it.
template <typename Interface, typename Object>
bool OfferInterface(REFIID riid, REFIID iid, Object* self, void** ppv) {
  if (!IsEqualIID(riid, iid)) return false;
  *ppv = static_cast<Interface*>(self);
  self->AddRef();
  return true;
}

}  // namespace opcsim

// The IUnknown members of a simulator COM class; the class has a RefCount refs_
// member and is created with one reference held by its creator.
#define OPCSIM_REFCOUNTED                      \
  ULONG STDMETHODCALLTYPE AddRef() override {  \
    return refs_.AddRef();                     \
  }                                            \
  ULONG STDMETHODCALLTYPE Release() override { \
    const ULONG left = refs_.Release();        \
    if (left == 0) delete this;                \
    return left;                               \
  }
