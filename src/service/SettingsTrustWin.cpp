// Reads a file's owner and access entries through the system's security functions.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string>

#include "SettingsTrust.h"

namespace {

struct TLocalFree {
  void operator()(void* Memory) const { LocalFree(Memory); }
};

std::u16string SidText(PSID Sid) {
  LPWSTR Text = nullptr;
  if (!Sid || !ConvertSidToStringSidW(Sid, &Text)) return u"(unreadable)";
  std::unique_ptr<wchar_t, TLocalFree> Owned(Text);
  return reinterpret_cast<const char16_t*>(Text);
}

// DOMAIN\name, or empty when the account cannot be named (a deleted account, say).
std::u16string AccountName(PSID Sid) {
  wchar_t Name[256];
  wchar_t Domain[256];
  DWORD NameLength = 256;
  DWORD DomainLength = 256;
  SID_NAME_USE Use;
  if (!LookupAccountSidW(nullptr, Sid, Name, &NameLength, Domain, &DomainLength, &Use)) return u"";
  std::u16string Text = reinterpret_cast<const char16_t*>(Domain);
  if (!Text.empty()) Text += u'\\';
  return Text + reinterpret_cast<const char16_t*>(Name);
}

std::u16string Number(DWORD Value) {
  const std::string Digits = std::to_string(Value);
  return std::u16string(Digits.begin(), Digits.end());
}

std::u16string ProcessAccount() {
  HANDLE Token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &Token)) return u"";
  std::unique_ptr<void, decltype(&CloseHandle)> Owned(Token, &CloseHandle);
  alignas(TOKEN_USER) BYTE Buffer[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  DWORD Size = 0;
  if (!GetTokenInformation(Token, TokenUser, Buffer, sizeof Buffer, &Size)) return u"";
  return SidText(reinterpret_cast<TOKEN_USER*>(Buffer)->User.Sid);
}

TAccessEntry EntryOf(const ACE_HEADER* Header) {
  TAccessEntry Entry;
  Entry.Flags = Header->AceFlags;
  switch (Header->AceType) {
    // The callback kinds have the same layout: mask, then the account.
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: Entry.Kind = TAccessEntry::TKind::Allow; break;
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE: Entry.Kind = TAccessEntry::TKind::Deny; break;
    default: Entry.Kind = TAccessEntry::TKind::Unknown; return Entry;
  }
  const auto* Ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(Header);
  PSID Sid = const_cast<DWORD*>(&Ace->SidStart);
  Entry.Mask = Ace->Mask;
  Entry.Sid = SidText(Sid);
  Entry.Name = AccountName(Sid);
  return Entry;
}

}  // namespace

std::u16string UntrustedSettingsText(const std::filesystem::path& File) {
  PSID Owner = nullptr;
  PACL Dacl = nullptr;
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  const DWORD Error = GetNamedSecurityInfoW(
      File.wstring().c_str(), SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &Owner, nullptr, &Dacl, nullptr,
      &Descriptor);
  if (Error == ERROR_FILE_NOT_FOUND || Error == ERROR_PATH_NOT_FOUND) return u"";
  const std::u16string Lead = u"Settings file " + File.u16string() + u" is not used: ";
  if (Error != ERROR_SUCCESS)
    return Lead + u"its permissions cannot be read (error " + Number(Error) + u")";
  std::unique_ptr<void, TLocalFree> Owned(Descriptor);

  TFileSecurity Security;
  Security.Owner = SidText(Owner);
  Security.OwnerName = AccountName(Owner);
  Security.HasDacl = Dacl != nullptr;
  for (DWORD I = 0; Dacl && I < Dacl->AceCount; ++I) {
    void* Ace = nullptr;
    if (GetAce(Dacl, I, &Ace)) Security.Entries.push_back(EntryOf(static_cast<ACE_HEADER*>(Ace)));
  }
  const std::u16string Problem = SettingsFileProblem(Security, TrustedSids(ProcessAccount()));
  if (Problem.empty()) return u"";
  return Lead + Problem +
         u". Only SYSTEM, Administrators and the service's own account may be able to change "
         u"it (icacls can set its owner and permissions)";
}
