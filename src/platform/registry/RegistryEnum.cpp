#include "Registry.h"

namespace {
// Key names are at most 255 characters and value names 16,383; nothing longer is ever listed.
constexpr size_t MaxNameCapacity = 32768;
}  // namespace

std::vector<std::u16string> CollectSubKeyNames(const TReadSubKeyName& Read, size_t Capacity,
                                               uint32_t MaxCount) {
  std::vector<std::u16string> Names;
  std::u16string Name;
  for (uint32_t Index = 0; Index < MaxCount;) {
    const long Rc = Read(Index, Capacity, Name);
    if (Rc == RegEnum::MoreData && Capacity < MaxNameCapacity) {
      Capacity *= 2;
      continue;
    }
    if (Rc != RegEnum::Success) break;
    Names.push_back(Name);
    ++Index;
  }
  return Names;
}
