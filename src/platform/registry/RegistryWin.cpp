#include <windows.h>

#include <algorithm>

#include "Registry.h"

namespace {

const wchar_t* Wide(const std::u16string& S) {
  return reinterpret_cast<const wchar_t*>(S.c_str());
}

}  // namespace

struct TRegKey::THandle {
  HKEY Key = nullptr;
  ~THandle() {
    if (Key) RegCloseKey(Key);
  }
};

TRegKey::TRegKey(std::unique_ptr<THandle> H) : Handle(std::move(H)) {}
TRegKey::~TRegKey() = default;

std::unique_ptr<TRegKey> TRegKey::Open(const std::u16string& Path) {
  auto H = std::make_unique<THandle>();
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(Path), 0, KEY_READ, &H->Key) != ERROR_SUCCESS) {
    H->Key = nullptr;
    return nullptr;
  }
  return std::unique_ptr<TRegKey>(new TRegKey(std::move(H)));
}

// Enumerates until the registry says there is no more: a count taken beforehand would cut the
// list short when another program adds keys during the walk. A name longer than the buffer
// (added after the size was read) grows the buffer and is read again.
std::vector<std::u16string> TRegKey::SubKeyNames() const {
  std::vector<std::u16string> Names;
  DWORD MaxLen = 0;
  if (RegQueryInfoKeyW(Handle->Key, nullptr, nullptr, nullptr, nullptr, &MaxLen, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return Names;
  std::u16string Buffer(std::max<DWORD>(MaxLen + 1, 256), u'\0');
  for (DWORD I = 0;;) {
    DWORD Len = static_cast<DWORD>(Buffer.size());
    const LONG Rc = RegEnumKeyExW(Handle->Key, I, reinterpret_cast<wchar_t*>(Buffer.data()), &Len,
                                  nullptr, nullptr, nullptr, nullptr);
    if (Rc == ERROR_NO_MORE_ITEMS) break;
    if (Rc == ERROR_MORE_DATA && Buffer.size() < 32768) {
      Buffer.resize(Buffer.size() * 2);
      continue;
    }
    if (Rc == ERROR_SUCCESS) Names.emplace_back(Buffer.data(), Len);
    ++I;
  }
  return Names;
}

std::optional<TRegValue> TRegKey::DefaultValue() const {
  TRegValue Value;
  DWORD Type = 0, Size = 0;
  LONG Rc = RegQueryValueExW(Handle->Key, L"", nullptr, &Type, nullptr, &Size);
  while (Rc == ERROR_SUCCESS || Rc == ERROR_MORE_DATA) {
    Value.Data.resize(Size);
    Rc = RegQueryValueExW(Handle->Key, L"", nullptr, &Type, Value.Data.data(), &Size);
    if (Rc == ERROR_SUCCESS) {
      Value.Data.resize(Size);
      Value.Type = Type;
      return Value;
    }
  }
  return std::nullopt;
}
