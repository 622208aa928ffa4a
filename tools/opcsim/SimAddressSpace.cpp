#include "SimAddressSpace.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>

namespace opcsim {

SimBranch* SimBranch::FindBranch(const std::u16string& child) const {
  for (const auto& branch : branches)
    if (branch->name == child) return branch.get();
  return nullptr;
}

std::shared_ptr<SimLeaf> SimBranch::FindLeaf(const std::u16string& child) const {
  for (const auto& leaf : leaves)
    if (leaf->name == child) return leaf;
  return nullptr;
}

bool SimAddressSpace::BuildIndex(std::u16string& duplicate) {
  items_.clear();
  branches_.clear();
  return IndexBranch(root_, duplicate);
}

bool SimAddressSpace::IndexBranch(SimBranch& branch, std::u16string& duplicate) {
  for (const auto& leaf : branch.leaves) {
    if (!items_.emplace(leaf->itemId, leaf).second) {
      duplicate = leaf->itemId;
      return false;
    }
  }
  for (const auto& child : branch.branches) {
    branches_.emplace(child->itemId, child.get());
    if (!IndexBranch(*child, duplicate)) return false;
  }
  return true;
}

std::shared_ptr<SimLeaf> SimAddressSpace::FindItem(const std::u16string& itemId) const {
  auto it = items_.find(itemId);
  return it == items_.end() ? nullptr : it->second;
}

SimBranch* SimAddressSpace::FindBranchById(const std::u16string& itemId) const {
  auto it = branches_.find(itemId);
  return it == branches_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<SimLeaf>> SimAddressSpace::AllLeaves() const {
  std::vector<std::shared_ptr<SimLeaf>> leaves;
  leaves.reserve(items_.size());
  for (const auto& [id, leaf] : items_) leaves.push_back(leaf);
  return leaves;
}

bool IsLeafType(VARTYPE vt) {
  switch (vt & ~VT_ARRAY) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BOOL:
    case VT_BSTR:
      return true;
    default:
      return false;
  }
}

namespace {

// The range a number must lie in to fit the type.
void TypeRange(VARTYPE vt, double& lo, double& hi) {
  switch (vt) {
    case VT_I1:
      lo = INT8_MIN, hi = INT8_MAX;
      return;
    case VT_UI1:
      lo = 0, hi = UINT8_MAX;
      return;
    case VT_I2:
      lo = INT16_MIN, hi = INT16_MAX;
      return;
    case VT_UI2:
      lo = 0, hi = UINT16_MAX;
      return;
    case VT_I4:
      lo = INT32_MIN, hi = INT32_MAX;
      return;
    case VT_UI4:
      lo = 0, hi = UINT32_MAX;
      return;
    case VT_I8:
      lo = -9.2e18, hi = 9.2e18;
      return;
    case VT_UI8:
      lo = 0, hi = 1.8e19;
      return;
    case VT_R4:
      lo = -FLT_MAX, hi = FLT_MAX;
      return;
    case VT_DATE:
      lo = -657434, hi = 2958465;
      return;
    case VT_CY:
      lo = -9.2e14, hi = 9.2e14;
      return;
    default:
      lo = -DBL_MAX, hi = DBL_MAX;
  }
}

uint64_t SplitMix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Wraps a ramp or counter back into [min, max).
double Wrap(double value, double min, double max) {
  if (!(max > min) || (value >= min && value < max)) return value;
  const double span = max - min;
  return min + std::fmod(std::fmod(value - min, span) + span, span);
}

}  // namespace

void SetLeafNumber(SimLeaf& leaf, double number) {
  if (leaf.type & VT_ARRAY) return;
  double lo = 0, hi = 0;
  TypeRange(leaf.type, lo, hi);
  number = std::clamp(number, lo, hi);
  leaf.number = number;
  VARIANT source;
  VariantInit(&source);
  if (leaf.type == VT_BSTR) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", number);
    const std::string text(buffer);
    source.vt = VT_BSTR;
    source.bstrVal = U16ToBstr(std::u16string(text.begin(), text.end()));
  } else if (leaf.type == VT_BOOL) {
    source.vt = VT_BOOL;
    source.boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    source.vt = VT_R8;
    source.dblVal = number;
  }
  SimValue converted;
  if (SUCCEEDED(VariantChangeType(converted.Ptr(), &source, 0, leaf.type))) leaf.value = converted;
  VariantClear(&source);
}

bool AdvanceLeaf(SimLeaf& leaf, int64_t elapsedMs, const FILETIME& start) {
  if (leaf.change == ChangeKind::Static || leaf.periodMs == 0 || (leaf.type & VT_ARRAY))
    return false;
  const int64_t tick = elapsedMs / leaf.periodMs;
  if (tick <= leaf.tick) return false;
  const int64_t steps = tick - leaf.tick;
  leaf.tick = tick;
  double next = leaf.number;
  switch (leaf.change) {
    case ChangeKind::Ramp:
      next = Wrap(leaf.number + leaf.step * static_cast<double>(steps), leaf.min, leaf.max);
      break;
    case ChangeKind::Counter:
      next = leaf.number + leaf.step * static_cast<double>(steps);
      if (leaf.max > leaf.min) next = Wrap(next, leaf.min, leaf.max);
      break;
    case ChangeKind::Toggle:
      if (steps % 2) next = (leaf.number == leaf.max) ? leaf.min : leaf.max;
      break;
    case ChangeKind::Random: {
      const uint64_t r = SplitMix(leaf.seed ^ static_cast<uint64_t>(tick));
      if (leaf.type == VT_BOOL)
        next = (r >> 63) ? 1 : 0;
      else
        next = leaf.min + (leaf.max - leaf.min) * (static_cast<double>(r >> 11) * 0x1.0p-53);
      break;
    }
    case ChangeKind::Static:
      break;
  }
  if (leaf.type == VT_BOOL && leaf.change != ChangeKind::Random) next = next != 0 ? 1 : 0;
  SetLeafNumber(leaf, next);
  leaf.timestamp = AddMilliseconds(start, tick * leaf.periodMs);
  ++leaf.version;
  return true;
}

FILETIME AddMilliseconds(const FILETIME& base, int64_t ms) {
  const uint64_t ticks = ((static_cast<uint64_t>(base.dwHighDateTime) << 32) | base.dwLowDateTime) +
                         static_cast<uint64_t>(ms) * 10000u;
  FILETIME out;
  out.dwLowDateTime = static_cast<DWORD>(ticks);
  out.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return out;
}

}  // namespace opcsim
