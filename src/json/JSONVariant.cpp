#include "JSONVariant.h"

#include <cmath>

#include "JSONErrors.h"
#include "NumberText.h"

namespace {

// True when text is exactly the number grammar the parser accepts.
bool IsNumberText(const std::u16string& t) {
  auto digits = [&t](std::size_t& i) {
    const std::size_t start = i;
    while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') ++i;
    return i > start;
  };
  std::size_t i = 0;
  if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) ++i;
  if (!digits(i)) return false;
  if (i < t.size() && t[i] == u'.' && !digits(++i)) return false;
  if (i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
    ++i;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) ++i;
    if (!digits(i)) return false;
  }
  return i == t.size();
}

bool EqualsIgnoringCase(const std::u16string& t, const char* ascii) {
  std::size_t i = 0;
  for (; ascii[i] != 0; ++i) {
    if (i >= t.size()) return false;
    char16_t c = t[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<char16_t>(ascii[i])) return false;
  }
  return i == t.size();
}

}  // namespace

double TqvVariant::AsDouble() const {
  if (const auto* d = std::get_if<double>(&FValue)) return *d;
  if (const auto* b = std::get_if<bool>(&FValue)) return *b ? 1.0 : 0.0;
  if (const auto* t = std::get_if<std::u16string>(&FValue)) {
    long double v = 0;
    if (IsNumberText(*t) && ConvertNumberText(*t, v)) {
      const auto d = static_cast<double>(v);
      if (std::isinf(d)) throw EJSONOverflow();
      return d;
    }
  }
  throw EJSONInvalidCast();
}

bool TqvVariant::AsBoolean() const {
  if (const auto* b = std::get_if<bool>(&FValue)) return *b;
  if (const auto* d = std::get_if<double>(&FValue)) return *d != 0;
  if (const auto* t = std::get_if<std::u16string>(&FValue)) {
    if (EqualsIgnoringCase(*t, "true")) return true;
    if (EqualsIgnoringCase(*t, "false")) return false;
  }
  throw EJSONInvalidCast();
}

std::u16string TqvVariant::AsText() const {
  if (const auto* t = std::get_if<std::u16string>(&FValue)) return *t;
  if (const auto* d = std::get_if<double>(&FValue)) return FormatNumber(*d);
  if (const auto* b = std::get_if<bool>(&FValue)) return *b ? u"true" : u"false";
  return std::u16string();
}
