// Writing keys under HKEY_LOCAL_MACHINE, for tests and tools that set up what discovery reads: the
// real registry on Windows, the in-memory tree natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace RegistryFill {

bool CreateKey(const std::u16string& Path);
bool SetDefaultValue(const std::u16string& Path, uint32_t Type, const std::vector<uint8_t>& Data);
// A REG_SZ default value holding Text and its terminating NUL.
bool SetDefaultString(const std::u16string& Path, const std::u16string& Text);
// Removes Path with all its subkeys.
void DeleteKey(const std::u16string& Path);

// Bytes of Text as UTF-16LE, without a terminating NUL.
std::vector<uint8_t> Utf16Bytes(const std::u16string& Text);

}  // namespace RegistryFill
