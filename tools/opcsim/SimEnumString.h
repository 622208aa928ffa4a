// A string enumerator over a fixed list, handed out by browsing and group
// enumeration. Later changes of the browse position do not affect it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "SimComBase.h"

namespace opcsim {

class SimEnumString final : public IEnumString {
 public:
  explicit SimEnumString(std::vector<std::u16string> items);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  OPCSIM_REFCOUNTED
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumString** ppenum) override;

 private:
  SimEnumString(std::shared_ptr<const std::vector<std::u16string>> items, size_t position);
  ~SimEnumString() = default;

  RefCount refs_;
  std::shared_ptr<const std::vector<std::u16string>> items_;
  size_t position_ = 0;
};

}  // namespace opcsim
