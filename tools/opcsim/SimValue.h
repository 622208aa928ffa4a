// A VARIANT with value semantics: copies deeply, clears itself when it goes.
#pragma once

#include <utility>

#include "ComApi.h"

namespace opcsim {

class SimValue {
 public:
  SimValue() { VariantInit(&v_); }
  SimValue(const SimValue& other) : SimValue() {
    VariantCopy(&v_, const_cast<VARIANT*>(&other.v_));
  }
  SimValue(SimValue&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
  ~SimValue() { VariantClear(&v_); }
  SimValue& operator=(SimValue other) noexcept {
    std::swap(v_, other.v_);
    return *this;
  }

  // Takes over a variant the caller owns; the caller's copy becomes empty.
  static SimValue Adopt(VARIANT& v) {
    SimValue value;
    value.v_ = v;
    VariantInit(&v);
    return value;
  }

  VARIANT& Get() { return v_; }
  const VARIANT& Get() const { return v_; }
  VARIANT* Ptr() { return &v_; }
  VARTYPE Type() const { return v_.vt; }

  // Copies the value into a caller's (uninitialised) variant.
  HRESULT CopyTo(VARIANT& out) const {
    VariantInit(&out);
    return VariantCopy(&out, const_cast<VARIANT*>(&v_));
  }

 private:
  VARIANT v_;
};

}  // namespace opcsim
