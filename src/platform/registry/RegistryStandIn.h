// The native build's registry: one process-wide in-memory tree standing for HKEY_LOCAL_MACHINE.
// Tests fill it; TRegKey reads it. Key names compare without regard to ASCII letter case, and
// subkeys are listed in that case-blind alphabetical order, as the Windows registry lists them.
// Every change made here counts on the key and on every key above it (and, for a removed subtree,
// on every key in it), which is what a TRegChangeWatch armed on one of them sees.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace RegistryStandIn {

// Creates Path and every missing key above it.
void CreateKey(const std::u16string& Path);
// Sets the default value of Path (created if missing).
void SetDefaultValue(const std::u16string& Path, uint32_t Type, const std::vector<uint8_t>& Data);
// Removes the default value of Path, if any.
void DeleteDefaultValue(const std::u16string& Path);
// Removes Path with all its subkeys; nothing happens when it does not exist.
void DeleteKey(const std::u16string& Path);
// While set, opening Path fails as if access were denied.
void SetOpenRefused(const std::u16string& Path, bool Refused);
// While Rc is not 0, listing the subkeys of Path answers Rc for every index from FromIndex on, as
// a registry would for a key deleted during the listing or for an error that repeats.
void SetEnumFault(const std::u16string& Path, long Rc, uint32_t FromIndex = 0);
// Empties the whole tree.
void Clear();
// Called with the path at the start of every open (outside the tree's lock), so tests can hold a
// walk in progress; an empty function removes it.
void SetOpenHook(std::function<void(const std::u16string& Path)> Hook);

}  // namespace RegistryStandIn
