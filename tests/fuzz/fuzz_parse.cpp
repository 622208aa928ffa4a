// Parses arbitrary text, generates what was parsed, and parses that again. The generator writes
// strict JSON, so its text must always parse, and (numbers far from the denormal range aside,
// which lose digits there) generating the second document must give the same text again.
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "JSON.h"

namespace {

// UTF-8 to UTF-16 as the link decodes lines, except that each byte of an ill-formed sequence
// becomes a lone surrogate U+DC80..U+DCFF, so the fuzzer also reaches unpaired surrogates.
std::u16string DecodeInput(const std::uint8_t* data, std::size_t size) {
  std::u16string out;
  out.reserve(size);
  std::size_t i = 0;
  while (i < size) {
    const std::uint8_t b = data[i];
    int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    std::uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = len > 0 && i + static_cast<std::size_t>(len) <= size;
    for (int k = 1; ok && k < len; ++k) {
      ok = (data[i + k] & 0xC0) == 0x80;
      cp = (cp << 6) | (data[i + k] & 0x3F);
    }
    const std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && cp >= minimum[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    if (!ok) {
      out.push_back(static_cast<char16_t>(0xDC00 + b));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += static_cast<std::size_t>(len);
  }
  return out;
}

// True when a number lies where the extended format has fewer than 64 significant bits (or so
// close that its 15-digit text converts into that range).
bool HasNearDenormal(const TqvJSONbase* v) {
  if (v == nullptr) return false;
  if (const auto* n = v->As<TqvJSONnumber>()) {
    const long double a = std::fabs(n->ExtendedValue());
    return a != 0 && a < 2 * LDBL_MIN;
  }
  if (const auto* pair = v->As<TqvJSONobjectmethod>()) return HasNearDenormal(pair->ObjValue());
  for (int i = 0; i < v->Count(); ++i) {
    if (HasNearDenormal(v->ItemAt(i))) return true;
  }
  return false;
}

// Runs every typed read over a container; they may fail only with the JSON read failures.
void ReadEverything(TqvJSONbase* v) {
  auto* list = v->As<TqvJSONcustomlist>();
  if (list == nullptr) return;
  for (int i = -1; i <= list->Count(); ++i) {
    try {
      list->getInt(i);
    } catch (const EJSONError&) {
    }
    try {
      list->getDouble(i);
    } catch (const EJSONError&) {
    }
    try {
      list->getString(i);
    } catch (const EJSONError&) {
    }
    try {
      list->getBoolean(i);
    } catch (const EJSONError&) {
    }
    std::u16string name;
    if (TqvJSONbase* child = list->EnumItem(i, name)) ReadEverything(child);
  }
  if (auto* object = v->As<TqvJSONobject>()) {
    for (int i = 0; i < object->Count(); ++i) {
      const int first = object->IndexOfName(object->FieldNameAt(i));
      if (first < 0 || first > i) __builtin_trap();  // every name is indexed at its first field
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = DecodeInput(data, size);
  const TqvJSONptr doc = TqvJSON::ParseText(text);
  if (!doc) return 0;
  ReadEverything(doc.get());

  const std::u16string first = TqvJSON::GenerateText(doc.get());
  const TqvJSONptr again = TqvJSON::ParseText(first);
  if (!again) __builtin_trap();
  if (again->SelfType() != doc->SelfType() || again->Count() != doc->Count()) __builtin_trap();
  const std::u16string second = TqvJSON::GenerateText(again.get());
  if (second != first && !HasNearDenormal(doc.get()) && !HasNearDenormal(again.get())) {
    __builtin_trap();
  }
  return 0;
}
