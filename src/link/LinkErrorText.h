// The text a caught link error is logged with.
#pragma once

#include <exception>
#include <string>

#include "TextEncoding.h"

inline std::u16string LinkErrorText(const std::exception& E) {
  return DecodeUtf8(E.what());
}
