// Whether the service may use its settings file: the service runs as SYSTEM, and the file says
// where it connects, with which keys and whether writes reach the OPC servers, so a file that an
// ordinary user can change (or replace) would hand that user the service's power. The check
// reads the file's owner and access entries; the rule itself is portable and tested natively.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct TAccessEntry {
  enum class TKind { Allow, Deny, Unknown };
  TKind Kind = TKind::Allow;
  uint32_t Flags = 0;  // the entry's inheritance flags
  uint32_t Mask = 0;
  std::u16string Sid;   // as S-1-5-...
  std::u16string Name;  // the account's name where known, for the log
};

struct TFileSecurity {
  std::u16string Owner;
  std::u16string OwnerName;
  bool HasDacl = true;  // false: no access list at all, so anyone may do anything
  std::vector<TAccessEntry> Entries;
};

// The accounts that may change the settings: SYSTEM, the Administrators group, TrustedInstaller,
// and the account the service runs as.
std::vector<std::u16string> TrustedSids(const std::u16string& OwnAccount);

// Empty when only trusted accounts can change or replace the file; otherwise why not.
std::u16string SettingsFileProblem(const TFileSecurity& Security,
                                   const std::vector<std::u16string>& Trusted);

#ifdef _WIN32
// The same for a file on disk: empty when the file is trusted or does not exist (the service then
// makes it itself); otherwise the whole line for the log.
std::u16string UntrustedSettingsText(const std::filesystem::path& File);
#endif
