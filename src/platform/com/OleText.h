// OLE strings, BSTRs, task-allocator memory and variant text, the same in both
// builds: the system keeps its text as std::u16string, and OLECHAR is a 16-bit
// unit in both builds (wchar_t on Windows, char16_t natively), so conversions
// are plain copies.
#pragma once

#include <memory>
#include <string>

#include "ComApi.h"

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "OLE strings are UTF-16");

// Text of a NUL-terminated OLE string; nullptr gives empty text.
inline std::u16string OleToU16(const OLECHAR* text) {
  if (!text) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text));
}

// Text of a BSTR with its stored length (embedded NULs kept); nullptr gives
// empty text.
inline std::u16string BstrToU16(BSTR text) {
  if (!text) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

// The text as an OLE string argument; valid while the string lives and is not
// changed.
inline const OLECHAR* U16ToOle(const std::u16string& text) {
  return reinterpret_cast<const OLECHAR*>(text.c_str());
}

// A new BSTR holding the text; the caller frees it with SysFreeString. nullptr
// when out of memory.
inline BSTR U16ToBstr(const std::u16string& text) {
  return SysAllocStringLen(U16ToOle(text), static_cast<UINT>(text.size()));
}

// A new task-allocator copy of the text, NUL-terminated, as servers hand
// strings out; the caller frees it with CoTaskMemFree. nullptr when out of
// memory.
inline LPWSTR U16ToCoTaskMem(const std::u16string& text) {
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (!copy) return nullptr;
  std::char_traits<char16_t>::copy(reinterpret_cast<char16_t*>(copy), text.c_str(),
                                   text.size() + 1);
  return copy;
}

// Owners for memory handed out by the COM rules.
struct CoTaskMemDeleter {
  void operator()(void* p) const { CoTaskMemFree(p); }
};
template <typename T>
using CoTaskMemPtr = std::unique_ptr<T, CoTaskMemDeleter>;

struct BstrDeleter {
  void operator()(OLECHAR* p) const { SysFreeString(p); }
};
using BstrPtr = std::unique_ptr<OLECHAR, BstrDeleter>;

// A VARIANT that is cleared when it goes.
class TVariant {
 public:
  TVariant() { VariantInit(&value_); }
  ~TVariant() { VariantClear(&value_); }
  TVariant(const TVariant&) = delete;
  TVariant& operator=(const TVariant&) = delete;
  VARIANT* operator&() { return &value_; }
  VARIANT& Get() { return value_; }
  const VARIANT& Get() const { return value_; }

 private:
  VARIANT value_;
};

// The text of a value by the platform's variant-to-text conversion under the
// user's locale: empty and null give empty text, integers decimal digits,
// booleans True or False, strings stay as they are, 32- and 64-bit floating
// point the general format with up to 15 significant digits (a 32-bit value is
// widened first, so 0.1f gives 0.100000001490116), currency and dates the
// locale's own form. A value that cannot be converted (an array, for example)
// gives the failure code of the conversion and leaves the text untouched.
// Objects (VT_DISPATCH, VT_UNKNOWN, also by reference or inside a referenced
// variant) are never converted: the conversion would call into the object,
// which may live in another process or apartment.
inline HRESULT VariantToText(const VARIANT& value, std::u16string& text) {
  const auto base = static_cast<VARTYPE>(value.vt & VT_TYPEMASK);
  if (base == VT_DISPATCH || base == VT_UNKNOWN || value.vt == (VT_BYREF | VT_VARIANT))
    return DISP_E_TYPEMISMATCH;
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) {
    text.clear();
    return S_OK;
  }
  if (value.vt == VT_BSTR) {
    text = BstrToU16(value.bstrVal);
    return S_OK;
  }
  VARIANT widened;
  VariantInit(&widened);
  VARIANT* source = const_cast<VARIANT*>(&value);  // the conversion only reads it
  if (value.vt == VT_R4) {
    widened.vt = VT_R8;
    widened.dblVal = value.fltVal;
    source = &widened;
  }
  TVariant converted;
  HRESULT hr =
      VariantChangeTypeEx(&converted, source, LOCALE_USER_DEFAULT, VARIANT_ALPHABOOL, VT_BSTR);
  if (FAILED(hr)) return hr;
  text = BstrToU16(converted.Get().bstrVal);
  return S_OK;
}
