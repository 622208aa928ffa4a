// JSON text: the lenient parser that turns one request line into a document, and the generator
// that writes a document as one line of compact JSON.
#pragma once

#include <string>
#include <string_view>

#include "JSONValues.h"

class TqvJSON {
 public:
  TqvJSON() = delete;

  // Nesting of lists and objects deeper than this makes ParseText give absent.
  static constexpr int kMaxDepth = 512;

  // The root value of txt (any kind; the caller checks it), or absent when txt holds no value.
  // Whatever follows the first value is ignored. Never raises.
  static TqvJSONptr ParseText(std::u16string_view txt);
  // The compact JSON text of obj and everything below it; empty text for an absent obj.
  static std::u16string GenerateText(const TqvJSONbase* obj);
};
