#include "RegistryFill.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "RegistryStandIn.h"
#endif

namespace RegistryFill {

std::vector<uint8_t> Utf16Bytes(const std::u16string& Text) {
  std::vector<uint8_t> Bytes;
  for (char16_t C : Text) {
    Bytes.push_back(static_cast<uint8_t>(C & 0xFF));
    Bytes.push_back(static_cast<uint8_t>(C >> 8));
  }
  return Bytes;
}

bool SetDefaultString(const std::u16string& Path, const std::u16string& Text) {
  return SetDefaultValue(Path, 1 /* REG_SZ */, Utf16Bytes(Text + u'\0'));
}

#ifdef _WIN32

namespace {
const wchar_t* Wide(const std::u16string& S) {
  return reinterpret_cast<const wchar_t*>(S.c_str());
}

bool WithCreatedKey(const std::u16string& Path, auto Action) {
  HKEY Key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(Path), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &Key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const bool Ok = Action(Key);
  RegCloseKey(Key);
  return Ok;
}
}  // namespace

bool CreateKey(const std::u16string& Path) {
  return WithCreatedKey(Path, [](HKEY) { return true; });
}

bool SetDefaultValue(const std::u16string& Path, uint32_t Type, const std::vector<uint8_t>& Data) {
  // RegSetValueExW counts a NUL character that directly follows string data as part of it; a
  // non-NUL guard after the bytes keeps the stored value exactly as given.
  std::vector<uint8_t> Guarded = Data;
  Guarded.insert(Guarded.end(), {0xFF, 0xFF});
  return WithCreatedKey(Path, [&](HKEY Key) {
    return RegSetValueExW(Key, nullptr, 0, Type, Guarded.data(), static_cast<DWORD>(Data.size())) ==
           ERROR_SUCCESS;
  });
}

void DeleteKey(const std::u16string& Path) {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(Path));
}

#else

bool CreateKey(const std::u16string& Path) {
  RegistryStandIn::CreateKey(Path);
  return true;
}

bool SetDefaultValue(const std::u16string& Path, uint32_t Type, const std::vector<uint8_t>& Data) {
  RegistryStandIn::SetDefaultValue(Path, Type, Data);
  return true;
}

void DeleteKey(const std::u16string& Path) {
  RegistryStandIn::DeleteKey(Path);
}

#endif

}  // namespace RegistryFill
