// Native stand-in of OLE Automation: BSTRs, safe arrays and variants with the
// conversions the project uses (numbers, booleans, currency, dates and text, as
// under an English (United States) user locale).
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ComApi.h"

// ---------------------------------------------------------------- BSTR
// Layout as on Windows: a 32-bit byte length just before the characters, then a
// NUL.
namespace {

constexpr size_t kBstrHeader = 8;  // keeps the characters 8-byte aligned

uint32_t* BstrLengthSlot(BSTR text) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(text) - sizeof(uint32_t));
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  const size_t bytes = static_cast<size_t>(ui) * sizeof(OLECHAR);
  auto* block = static_cast<char*>(std::malloc(kBstrHeader + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  auto* text = reinterpret_cast<BSTR>(block + kBstrHeader);
  *BstrLengthSlot(text) = static_cast<uint32_t>(bytes);
  if (strIn)
    std::memcpy(text, strIn, bytes);
  else
    std::memset(text, 0, bytes);
  text[ui] = 0;
  return text;
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  UINT length = 0;
  while (psz[length]) ++length;
  return SysAllocStringLen(psz, length);
}

void SysFreeString(BSTR bstrString) {
  if (bstrString) std::free(reinterpret_cast<char*>(bstrString) - kBstrHeader);
}

UINT SysStringByteLen(BSTR bstr) {
  return bstr ? *BstrLengthSlot(bstr) : 0;
}

UINT SysStringLen(BSTR pbstr) {
  return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}

// ---------------------------------------------------------------- SAFEARRAY
namespace {

constexpr USHORT kHaveVartype = 0x0080;
constexpr USHORT kBstrElements = 0x0100;
constexpr USHORT kUnknownElements = 0x0200;
constexpr USHORT kVariantElements = 0x0800;

// The element type is kept in a header in front of the descriptor, as Windows
// does.
constexpr size_t kArrayHeader = 16;

VARTYPE& ArrayVartype(SAFEARRAY* psa) {
  return *reinterpret_cast<VARTYPE*>(reinterpret_cast<char*>(psa) - kArrayHeader);
}

ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

size_t ElementCount(const SAFEARRAY* psa) {
  size_t count = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) count *= psa->rgsabound[d].cElements;
  return count;
}

void ClearElements(SAFEARRAY* psa) {
  const size_t count = ElementCount(psa);
  if (psa->fFeatures & kBstrElements) {
    auto* items = static_cast<BSTR*>(psa->pvData);
    for (size_t i = 0; i < count; ++i) SysFreeString(items[i]);
  } else if (psa->fFeatures & kUnknownElements) {
    auto* items = static_cast<IUnknown**>(psa->pvData);
    for (size_t i = 0; i < count; ++i)
      if (items[i]) items[i]->Release();
  } else if (psa->fFeatures & kVariantElements) {
    auto* items = static_cast<VARIANT*>(psa->pvData);
    for (size_t i = 0; i < count; ++i) VariantClear(&items[i]);
  }
}

// Offset of the element at a one-dimensional index; false when out of bounds.
bool ElementOffset(SAFEARRAY* psa, LONG* rgIndices, size_t& offset) {
  if (!psa || !rgIndices || psa->cDims != 1) return false;
  const int64_t index = static_cast<int64_t>(rgIndices[0]) - psa->rgsabound[0].lLbound;
  if (index < 0 || index >= static_cast<int64_t>(psa->rgsabound[0].cElements)) return false;
  offset = static_cast<size_t>(index) * psa->cbElements;
  return true;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  const ULONG elementSize = ElementSize(vt);
  if (cDims == 0 || !rgsabound || elementSize == 0) return nullptr;
  const size_t descriptor = sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
  auto* block = static_cast<char*>(std::calloc(1, kArrayHeader + descriptor));
  if (!block) return nullptr;
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + kArrayHeader);
  psa->cDims = static_cast<USHORT>(cDims);
  psa->cbElements = elementSize;
  for (UINT d = 0; d < cDims; ++d) psa->rgsabound[d] = rgsabound[d];
  psa->fFeatures = kHaveVartype;
  if (vt == VT_BSTR) psa->fFeatures |= kBstrElements;
  if (vt == VT_UNKNOWN || vt == VT_DISPATCH) psa->fFeatures |= kUnknownElements;
  if (vt == VT_VARIANT) psa->fFeatures |= kVariantElements;
  ArrayVartype(psa) = vt;
  const size_t count = ElementCount(psa);
  psa->pvData = std::calloc(count ? count : 1, elementSize);
  if (!psa->pvData) {
    std::free(block);
    return nullptr;
  }
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  SAFEARRAYBOUND bound{cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  ClearElements(psa);
  std::free(psa->pvData);
  std::free(reinterpret_cast<char*>(psa) - kArrayHeader);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (!ppsaOut) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (!psa) return S_OK;
  const VARTYPE vt = ArrayVartype(psa);
  SAFEARRAY* copy = SafeArrayCreate(vt, psa->cDims, psa->rgsabound);
  if (!copy) return E_OUTOFMEMORY;
  const size_t count = ElementCount(psa);
  if (vt == VT_BSTR) {
    auto* from = static_cast<BSTR*>(psa->pvData);
    auto* to = static_cast<BSTR*>(copy->pvData);
    for (size_t i = 0; i < count; ++i)
      to[i] = from[i] ? SysAllocStringLen(from[i], SysStringLen(from[i])) : nullptr;
  } else if (vt == VT_VARIANT) {
    auto* from = static_cast<VARIANT*>(psa->pvData);
    auto* to = static_cast<VARIANT*>(copy->pvData);
    for (size_t i = 0; i < count; ++i) VariantCopy(&to[i], &from[i]);
  } else {
    std::memcpy(copy->pvData, psa->pvData, count * psa->cbElements);
    if (psa->fFeatures & kUnknownElements) {
      auto* items = static_cast<IUnknown**>(copy->pvData);
      for (size_t i = 0; i < count; ++i)
        if (items[i]) items[i]->AddRef();
    }
  }
  *ppsaOut = copy;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!psa || !ppvData) return E_INVALIDARG;
  ++psa->cLocks;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!psa || !pvt) return E_INVALIDARG;
  *pvt = ArrayVartype(psa);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
  return psa ? psa->cDims : 0;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!psa || !plLbound) return E_INVALIDARG;
  if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
  // Bounds are stored from the last dimension to the first, as on Windows.
  *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!psa || !plUbound) return E_INVALIDARG;
  if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - nDim];
  *plUbound = bound.lLbound + static_cast<LONG>(bound.cElements) - 1;
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  size_t offset = 0;
  if (!pv || !ElementOffset(psa, rgIndices, offset)) return DISP_E_BADINDEX;
  void* item = static_cast<char*>(psa->pvData) + offset;
  const VARTYPE vt = ArrayVartype(psa);
  if (vt == VT_BSTR) {
    BSTR text = *static_cast<BSTR*>(item);
    BSTR copy = text ? SysAllocStringLen(text, SysStringLen(text)) : nullptr;
    if (text && !copy) return E_OUTOFMEMORY;
    *static_cast<BSTR*>(pv) = copy;
  } else if (vt == VT_VARIANT) {
    VariantInit(static_cast<VARIANT*>(pv));
    return VariantCopy(static_cast<VARIANT*>(pv), static_cast<VARIANT*>(item));
  } else {
    std::memcpy(pv, item, psa->cbElements);
    if (psa->fFeatures & kUnknownElements) {
      IUnknown* unknown = *static_cast<IUnknown**>(item);
      if (unknown) unknown->AddRef();
    }
  }
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  size_t offset = 0;
  if (!ElementOffset(psa, rgIndices, offset)) return DISP_E_BADINDEX;
  void* item = static_cast<char*>(psa->pvData) + offset;
  const VARTYPE vt = ArrayVartype(psa);
  if (vt == VT_BSTR) {
    // For BSTR arrays pv is the string itself.
    auto text = static_cast<BSTR>(pv);
    BSTR copy = text ? SysAllocStringLen(text, SysStringLen(text)) : nullptr;
    if (text && !copy) return E_OUTOFMEMORY;
    SysFreeString(*static_cast<BSTR*>(item));
    *static_cast<BSTR*>(item) = copy;
  } else if (vt == VT_VARIANT) {
    return VariantCopy(static_cast<VARIANT*>(item), static_cast<VARIANT*>(pv));
  } else if (psa->fFeatures & kUnknownElements) {
    auto* unknown = static_cast<IUnknown*>(pv);
    if (unknown) unknown->AddRef();
    IUnknown*& slot = *static_cast<IUnknown**>(item);
    if (slot) slot->Release();
    slot = unknown;
  } else {
    if (!pv) return E_INVALIDARG;
    std::memcpy(item, pv, psa->cbElements);
  }
  return S_OK;
}

// ---------------------------------------------------------------- VARIANT
// basics
void VariantInit(VARIANTARG* pvarg) {
  if (!pvarg) return;
  std::memset(static_cast<void*>(pvarg), 0, sizeof(*pvarg));
  pvarg->vt = VT_EMPTY;
}

namespace {

bool IsSupportedScalar(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_BOOL:
    case VT_ERROR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return true;
    default:
      return false;
  }
}

bool IsSupported(VARTYPE vt) {
  if (vt & VT_ARRAY) return !(vt & VT_BYREF) && ElementSize(vt & VT_TYPEMASK) != 0;
  return IsSupportedScalar(vt);
}

}  // namespace

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (!IsSupported(pvarg->vt)) return DISP_E_BADVARTYPE;
  if (pvarg->vt & VT_ARRAY) {
    HRESULT hr = SafeArrayDestroy(pvarg->parray);
    if (FAILED(hr)) return hr;
  } else if (pvarg->vt == VT_BSTR) {
    SysFreeString(pvarg->bstrVal);
  } else if ((pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) && pvarg->punkVal) {
    pvarg->punkVal->Release();
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, VARIANTARG* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!IsSupported(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy = *pvargSrc;
  if (pvargSrc->vt & VT_ARRAY) {
    HRESULT hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
    if (FAILED(hr)) return hr;
  } else if (pvargSrc->vt == VT_BSTR && pvargSrc->bstrVal) {
    copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  } else if ((pvargSrc->vt == VT_UNKNOWN || pvargSrc->vt == VT_DISPATCH) && copy.punkVal) {
    copy.punkVal->AddRef();
  }
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvargDest = copy;
  return S_OK;
}

// ---------------------------------------------------------------- conversions
namespace {

// A source value as a number: an exact integer, or a real.
struct Number {
  enum Kind { kSigned, kUnsigned, kReal } kind = kSigned;
  int64_t s = 0;
  uint64_t u = 0;
  long double r = 0;
  bool fromBool = false;

  long double AsReal() const {
    switch (kind) {
      case kSigned:
        return static_cast<long double>(s);
      case kUnsigned:
        return static_cast<long double>(u);
      default:
        return r;
    }
  }
};

bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool EqualsNoCase(const std::u16string& text, const char* word) {
  size_t i = 0;
  for (; word[i]; ++i) {
    if (i >= text.size()) return false;
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<char16_t>(word[i])) return false;
  }
  return i == text.size();
}

std::u16string Trimmed(BSTR text) {
  std::u16string s = BstrToU16(text);
  size_t begin = 0, end = s.size();
  while (begin < end && IsSpace(s[begin])) ++begin;
  while (end > begin && IsSpace(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return 99;
}

// &H / &O followed by hexadecimal or octal digits.
HRESULT ParseRadixText(const std::u16string& text, size_t i, bool negative, Number& out) {
  const int base = (text[i + 1] == u'H' || text[i + 1] == u'h') ? 16 : 8;
  i += 2;
  if (i == text.size()) return DISP_E_TYPEMISMATCH;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int d = DigitValue(text[i]);
    if (d >= base) return DISP_E_TYPEMISMATCH;
    if (value > (UINT64_MAX - static_cast<uint64_t>(d)) / base) return DISP_E_OVERFLOW;
    value = value * base + static_cast<uint64_t>(d);
  }
  out.kind = Number::kReal;
  out.r = negative ? -static_cast<long double>(value) : static_cast<long double>(value);
  return S_OK;
}

// Number text as the en-US locale writes it: sign, digits with optional ","
// group separators, an optional "." fraction and exponent; or &H / &O followed
// by hexadecimal or octal digits.
HRESULT ParseNumberText(BSTR bstr, Number& out) {
  const std::u16string text = Trimmed(bstr);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i + 1 < text.size() && text[i] == u'&' &&
      (text[i + 1] == u'H' || text[i + 1] == u'h' || text[i + 1] == u'O' || text[i + 1] == u'o'))
    return ParseRadixText(text, i, negative, out);
  std::string digits;  // plain ASCII for strtoull / strtold
  bool sawDigit = false, sawPoint = false, exact = true;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= u'0' && c <= u'9') {
      digits += static_cast<char>(c);
      sawDigit = true;
    } else if (c == u',' && sawDigit && !sawPoint) {
      continue;
    } else if (c == u'.' && !sawPoint) {
      digits += '.';
      sawPoint = true;
      exact = false;
    } else {
      break;
    }
  }
  if (!sawDigit) return DISP_E_TYPEMISMATCH;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    digits += 'e';
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
      digits += static_cast<char>(text[i++]);
    bool expDigit = false;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
      digits += static_cast<char>(text[i++]);
      expDigit = true;
    }
    if (!expDigit) return DISP_E_TYPEMISMATCH;
    exact = false;
  }
  if (i != text.size()) return DISP_E_TYPEMISMATCH;
  if (exact) {
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, 10);
    const unsigned long long limit = static_cast<unsigned long long>(INT64_MAX) + 1;
    if (errno == 0 && (!negative || value <= limit)) {
      if (!negative) {
        out.kind = Number::kUnsigned;
        out.u = value;
      } else {
        out.kind = Number::kSigned;
        out.s = value == limit ? INT64_MIN : -static_cast<int64_t>(value);
      }
      return S_OK;
    }
  }
  out.kind = Number::kReal;
  out.r = std::strtold(digits.c_str(), nullptr);
  if (negative) out.r = -out.r;
  return std::isinf(out.r) ? DISP_E_OVERFLOW : S_OK;
}

HRESULT ToNumber(const VARIANT& v, Number& out) {
  out = Number{};
  switch (v.vt) {
    case VT_EMPTY:
      return S_OK;
    case VT_I1:
      out.s = v.cVal;
      return S_OK;
    case VT_I2:
      out.s = v.iVal;
      return S_OK;
    case VT_I4:
    case VT_INT:
      out.s = v.lVal;
      return S_OK;
    case VT_I8:
      out.s = v.llVal;
      return S_OK;
    case VT_BOOL:
      out.s = v.boolVal;
      out.fromBool = true;
      return S_OK;
    case VT_UI1:
      out.kind = Number::kUnsigned;
      out.u = v.bVal;
      return S_OK;
    case VT_UI2:
      out.kind = Number::kUnsigned;
      out.u = v.uiVal;
      return S_OK;
    case VT_UI4:
    case VT_UINT:
      out.kind = Number::kUnsigned;
      out.u = v.ulVal;
      return S_OK;
    case VT_UI8:
      out.kind = Number::kUnsigned;
      out.u = v.ullVal;
      return S_OK;
    case VT_R4:
      out.kind = Number::kReal;
      out.r = v.fltVal;
      return S_OK;
    case VT_R8:
    case VT_DATE:
      out.kind = Number::kReal;
      out.r = v.dblVal;
      return S_OK;
    case VT_CY:
      out.kind = Number::kReal;
      out.r = static_cast<long double>(v.cyVal.int64) / 10000.0L;
      return S_OK;
    case VT_BSTR:
      return ParseNumberText(v.bstrVal, out);
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// Integer in [lo, hi]; reals are rounded half to even first, as OLE Automation
// rounds.
HRESULT ToSigned(const Number& n, int64_t lo, int64_t hi, int64_t& out) {
  if (n.kind == Number::kSigned) {
    if (n.s < lo || n.s > hi) return DISP_E_OVERFLOW;
    out = n.s;
    return S_OK;
  }
  if (n.kind == Number::kUnsigned) {
    if (n.u > static_cast<uint64_t>(hi)) return DISP_E_OVERFLOW;
    out = static_cast<int64_t>(n.u);
    return S_OK;
  }
  if (std::isnan(n.r)) return DISP_E_OVERFLOW;
  const long double r = std::nearbyintl(n.r);
  if (r < static_cast<long double>(lo) || r > static_cast<long double>(hi)) return DISP_E_OVERFLOW;
  out = static_cast<int64_t>(r);
  return S_OK;
}

HRESULT ToUnsigned(const Number& n, uint64_t hi, uint64_t& out) {
  if (n.fromBool) {  // booleans wrap: VARIANT_TRUE becomes all bits set
    out = static_cast<uint64_t>(n.s) & hi;
    return S_OK;
  }
  if (n.kind == Number::kUnsigned) {
    if (n.u > hi) return DISP_E_OVERFLOW;
    out = n.u;
    return S_OK;
  }
  if (n.kind == Number::kSigned) {
    if (n.s < 0 || static_cast<uint64_t>(n.s) > hi) return DISP_E_OVERFLOW;
    out = static_cast<uint64_t>(n.s);
    return S_OK;
  }
  if (std::isnan(n.r)) return DISP_E_OVERFLOW;
  const long double r = std::nearbyintl(n.r);
  if (r < 0 || r > static_cast<long double>(hi)) return DISP_E_OVERFLOW;
  out = static_cast<uint64_t>(r);
  return S_OK;
}

std::u16string Ascii(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

std::u16string FormatReal(double value, int digits) {
  if (value == 0) return u"0";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*G", digits, value);
  return Ascii(buffer);
}

std::u16string FormatCurrency(int64_t scaled) {
  const bool negative = scaled < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string text = std::to_string(magnitude / 10000);
  const unsigned fraction = static_cast<unsigned>(magnitude % 10000);
  if (fraction) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04u", fraction);
    std::string decimals = buffer;
    while (!decimals.empty() && decimals.back() == '0') decimals.pop_back();
    text += "." + decimals;
  }
  return Ascii(negative ? "-" + text : text);
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

// A date as the en-US short date and long time formats write it: "M/D/YYYY
// h:mm:ss AM"; the date alone when there is no time of day, the time alone on
// day 0 (1899-12-30).
HRESULT FormatDate(double date, std::u16string& out) {
  if (!(date >= -657434.0 && date < 2958466.0)) return E_INVALIDARG;
  int64_t days = static_cast<int64_t>(date);  // toward zero; the fraction is the time either way
  const double fraction = std::fabs(date - static_cast<double>(days));
  int64_t seconds = static_cast<int64_t>(std::nearbyint(fraction * 86400.0));
  if (seconds >= 86400) {
    seconds -= 86400;
    days += date < 0 ? -1 : 1;
  }
  std::string text;
  if (days != 0) {
    int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days - 25569, year, month,
                  day);  // 1899-12-30 is 25569 days before 1970
    text = std::to_string(month) + "/" + std::to_string(day) + "/" + std::to_string(year);
  }
  if (fraction != 0 || days == 0) {
    const int hour = static_cast<int>(seconds / 3600);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d %s", hour % 12 == 0 ? 12 : hour % 12,
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60),
                  hour < 12 ? "AM" : "PM");
    text += (text.empty() ? "" : " ") + std::string(buffer);
  }
  out = Ascii(text);
  return S_OK;
}

HRESULT ToText(const VARIANT& v, USHORT flags, std::u16string& out) {
  switch (v.vt) {
    case VT_EMPTY:
      out.clear();
      return S_OK;
    case VT_BOOL:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL))
        out = v.boolVal ? u"True" : u"False";
      else
        out = Ascii(std::to_string(v.boolVal));
      return S_OK;
    case VT_R4:
      out = FormatReal(v.fltVal, 7);
      return S_OK;
    case VT_R8:
      out = FormatReal(v.dblVal, 15);
      return S_OK;
    case VT_CY:
      out = FormatCurrency(v.cyVal.int64);
      return S_OK;
    case VT_DATE:
      return FormatDate(v.date, out);
    default:
      break;
  }
  Number n;
  const HRESULT hr = ToNumber(v, n);
  if (FAILED(hr) || n.kind == Number::kReal) return DISP_E_TYPEMISMATCH;
  out = Ascii(n.kind == Number::kSigned ? std::to_string(n.s) : std::to_string(n.u));
  return S_OK;
}

HRESULT ToBool(const VARIANT& v, VARIANT_BOOL& out) {
  if (v.vt == VT_BSTR) {
    const std::u16string text = Trimmed(v.bstrVal);
    if (EqualsNoCase(text, "true") || EqualsNoCase(text, "false")) {
      out = EqualsNoCase(text, "true") ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
  }
  Number n;
  const HRESULT hr = ToNumber(v, n);
  if (FAILED(hr)) return hr;
  out = n.AsReal() != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT ToNumeric(const Number& n, VARTYPE vt, VARIANT& dst) {
  HRESULT hr = S_OK;
  int64_t s = 0;
  uint64_t u = 0;
  switch (vt) {
    case VT_I1:
      hr = ToSigned(n, INT8_MIN, INT8_MAX, s);
      dst.cVal = static_cast<CHAR>(s);
      return hr;
    case VT_I2:
      hr = ToSigned(n, INT16_MIN, INT16_MAX, s);
      dst.iVal = static_cast<SHORT>(s);
      return hr;
    case VT_I4:
    case VT_INT:
      hr = ToSigned(n, INT32_MIN, INT32_MAX, s);
      dst.lVal = static_cast<LONG>(s);
      return hr;
    case VT_I8:
      hr = ToSigned(n, INT64_MIN, INT64_MAX, s);
      dst.llVal = s;
      return hr;
    case VT_UI1:
      hr = ToUnsigned(n, UINT8_MAX, u);
      dst.bVal = static_cast<BYTE>(u);
      return hr;
    case VT_UI2:
      hr = ToUnsigned(n, UINT16_MAX, u);
      dst.uiVal = static_cast<USHORT>(u);
      return hr;
    case VT_UI4:
    case VT_UINT:
      hr = ToUnsigned(n, UINT32_MAX, u);
      dst.ulVal = static_cast<ULONG>(u);
      return hr;
    case VT_UI8:
      hr = ToUnsigned(n, UINT64_MAX, u);
      dst.ullVal = u;
      return hr;
    case VT_R4: {
      const long double r = n.AsReal();
      if (std::isfinite(r) && std::fabs(r) > FLT_MAX) return DISP_E_OVERFLOW;
      dst.fltVal = static_cast<float>(r);
      return S_OK;
    }
    case VT_R8:
      dst.dblVal = static_cast<double>(n.AsReal());
      return S_OK;
    case VT_DATE: {
      const long double r = n.AsReal();
      if (!(r >= -657434.0L && r < 2958466.0L)) return DISP_E_OVERFLOW;
      dst.date = static_cast<double>(r);
      return S_OK;
    }
    case VT_CY: {
      const long double r = std::nearbyintl(n.AsReal() * 10000.0L);
      if (!(r >= -9223372036854775807.0L && r <= 9223372036854775807.0L)) return DISP_E_OVERFLOW;
      dst.cyVal.int64 = static_cast<LONGLONG>(r);
      return S_OK;
    }
    default:
      return IsSupported(vt) ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
  }
}

HRESULT Convert(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT& dst) {
  VariantInit(&dst);
  if (src.vt == VT_NULL) {
    if (vt != VT_NULL) return DISP_E_TYPEMISMATCH;
    dst.vt = VT_NULL;
    return S_OK;
  }
  if ((src.vt & VT_ARRAY) || (vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
  if (vt == VT_EMPTY) return S_OK;
  HRESULT hr = S_OK;
  if (vt == VT_BSTR) {
    std::u16string text;
    hr = ToText(src, flags, text);
    if (FAILED(hr)) return hr;
    dst.bstrVal = U16ToBstr(text);
    if (!dst.bstrVal) return E_OUTOFMEMORY;
  } else if (vt == VT_BOOL) {
    hr = ToBool(src, dst.boolVal);
  } else {
    Number n;
    hr = ToNumber(src, n);
    if (SUCCEEDED(hr)) hr = ToNumeric(n, vt, dst);
  }
  if (FAILED(hr)) {
    VariantInit(&dst);
    return hr;
  }
  dst.vt = vt;
  return S_OK;
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, LCID, USHORT wFlags,
                            VARTYPE vt) {
  if (!pvargDest || !pvarSrc) return E_INVALIDARG;
  if (!IsSupported(pvarSrc->vt)) return DISP_E_BADVARTYPE;
  if (pvarSrc->vt == vt) return pvargDest == pvarSrc ? S_OK : VariantCopy(pvargDest, pvarSrc);
  VARIANT result;
  HRESULT hr = Convert(*pvarSrc, wFlags, vt, result);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvargDest);  // right also in place: the source has been read
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}
