// Read-only access to keys under HKEY_LOCAL_MACHINE: advapi32 on Windows, an in-memory key tree
// (RegistryStandIn.h) in the native build.
#pragma once

#include <cstdint>
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

// One key opened for reading; the handle is closed when the object goes.
class TRegKey {
 public:
  // Opens Path (backslash-separated, relative to HKEY_LOCAL_MACHINE) for reading without creating
  // it; nullptr when it cannot be opened.
  static std::unique_ptr<TRegKey> Open(const std::u16string& Path);

  ~TRegKey();
  TRegKey(const TRegKey&) = delete;
  TRegKey& operator=(const TRegKey&) = delete;

  // Names of the direct subkeys, in the order the registry lists them.
  std::vector<std::u16string> SubKeyNames() const;
  // The default (unnamed) value; nothing when it is absent or cannot be read.
  std::optional<TRegValue> DefaultValue() const;

  struct THandle;

 private:
  explicit TRegKey(std::unique_ptr<THandle> Handle);
  std::unique_ptr<THandle> Handle;
};
