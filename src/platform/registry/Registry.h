// Read-only access to keys under HKEY_LOCAL_MACHINE: advapi32 on Windows, an in-memory key tree
// (RegistryStandIn.h) in the native build.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Value types, numbered as the Windows registry numbers them.
enum TRegType : uint32_t {
  RegNone = 0,
  RegSz = 1,
  RegExpandSz = 2,
  RegBinary = 3,
  RegDword = 4,
  RegMultiSz = 7,
  RegQword = 11,
};

// A stored value: its type and its bytes as stored (strings as UTF-16LE, NUL included if stored).
struct TRegValue {
  uint32_t Type = RegNone;
  std::vector<uint8_t> Data;
};

// Result codes of reading one subkey name by index, numbered as Windows numbers them.
namespace RegEnum {
constexpr long Success = 0;
constexpr long MoreData = 234;     // the name is longer than the buffer
constexpr long NoMoreItems = 259;  // the index is past the last subkey
constexpr long KeyDeleted = 1018;  // the key was deleted while it was open
// No key lists more subkeys than this; an enumeration that seems to go on beyond it is cut there.
constexpr uint32_t MaxSubKeys = 1u << 22;
}  // namespace RegEnum

// Reads the name of subkey Index into Name, in a buffer of Capacity characters; returns one of the
// result codes above (or any other Windows error code).
using TReadSubKeyName = std::function<long(uint32_t Index, size_t Capacity, std::u16string& Name)>;

// Reads names by index from 0 until the registry reports anything other than success or a name
// too long for the buffer (which doubles the buffer, up to the longest name a key can have), or
// until MaxCount names were read. A key deleted during the walk, or an error that repeats for every
// index, therefore ends the list instead of looping.
std::vector<std::u16string> CollectSubKeyNames(const TReadSubKeyName& Read, size_t Capacity,
                                               uint32_t MaxCount = RegEnum::MaxSubKeys);

// One key opened for reading; the handle is closed when the object goes.
class TRegKey {
 public:
  // Opens Path (backslash-separated, relative to HKEY_LOCAL_MACHINE) for reading without creating
  // it; nullptr when it cannot be opened.
  static std::unique_ptr<TRegKey> Open(const std::u16string& Path);

  ~TRegKey();
  TRegKey(const TRegKey&) = delete;
  TRegKey& operator=(const TRegKey&) = delete;

  // Names of the direct subkeys, in the order the registry lists them; the list ends early at the
  // first error (see CollectSubKeyNames).
  std::vector<std::u16string> SubKeyNames() const;
  // The default (unnamed) value; nothing when it is absent or cannot be read.
  std::optional<TRegValue> DefaultValue() const;

  struct THandle;

 private:
  explicit TRegKey(std::unique_ptr<THandle> Handle);
  std::unique_ptr<THandle> Handle;
};

// A change notification on a key and everything below it: subkeys added or removed, values set or
// removed, security changed. Armed when made; once fired it stays fired, so a change between
// arming and asking is never missed.
class TRegChangeWatch {
 public:
  // nullptr when Path cannot be opened or the notification cannot be armed.
  static std::unique_ptr<TRegChangeWatch> Arm(const std::u16string& Path);

  ~TRegChangeWatch();
  TRegChangeWatch(const TRegChangeWatch&) = delete;
  TRegChangeWatch& operator=(const TRegChangeWatch&) = delete;

  // True once anything under the key has changed since arming.
  bool Fired() const;

  struct THandle;

 private:
  explicit TRegChangeWatch(std::unique_ptr<THandle> Handle);
  std::unique_ptr<THandle> Handle;
};
