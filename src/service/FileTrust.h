// Whether the service may use its files. The service runs as SYSTEM: its settings say where it
// connects, with which keys and whether writes reach the OPC servers, and it writes its log and
// crash records into the data folder. A settings file that an ordinary user can change, or a
// folder where one can plant files or links, would hand that user the service's power. The
// rule reads an object's owner and access entries; it is portable and tested natively.
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

enum class TObjectKind { File, Folder };

// The accounts that may change the service's files: SYSTEM, the Administrators group,
// TrustedInstaller, and the account the service runs as.
std::vector<std::u16string> TrustedSids(const std::u16string& OwnAccount);

// Empty when only trusted accounts can change or replace the object (for a folder: also add to
// it or remove from it, now or through what it passes on to new files); otherwise why not.
std::u16string AccessProblem(const TFileSecurity& Security, TObjectKind Kind,
                             const std::vector<std::u16string>& Trusted);
// True when only the owner makes it a problem: the access list alone can be replaced.
bool OwnerTrusted(const TFileSecurity& Security, const std::vector<std::u16string>& Trusted);

#ifdef _WIN32
#include "FileCheck.h"

// Makes each folder (in order, so a parent first; each made when missing) changeable by trusted
// accounts only, replacing an access list that lets others change it; then checks the settings
// file (one that does not exist yet is made by the service itself, so it is fine). A folder owned
// by another account, or one that is a link to another place, is a problem.
TFileCheck CheckServiceFiles(const std::vector<std::filesystem::path>& Folders,
                             const std::filesystem::path& SettingsFile);
#endif
