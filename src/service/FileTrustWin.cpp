// Reads and sets the owner and access entries of the service's files through the system's
// security functions.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <optional>
#include <string>

#include "FileTrust.h"

namespace {

namespace fs = std::filesystem;

struct TLocalFree {
  void operator()(void* Memory) const { LocalFree(Memory); }
};

std::u16string Text16(const wchar_t* Text) { return reinterpret_cast<const char16_t*>(Text); }

std::u16string Number(DWORD Value) {
  const std::string Digits = std::to_string(Value);
  return std::u16string(Digits.begin(), Digits.end());
}

std::u16string SidText(PSID Sid) {
  LPWSTR Text = nullptr;
  if (!Sid || !ConvertSidToStringSidW(Sid, &Text)) return u"(unreadable)";
  std::unique_ptr<wchar_t, TLocalFree> Owned(Text);
  return Text16(Text);
}

// DOMAIN\name, or empty when the account cannot be named (a deleted account, say).
std::u16string AccountName(const std::u16string& SidString) {
  PSID Sid = nullptr;
  if (!ConvertStringSidToSidW(reinterpret_cast<LPCWSTR>(SidString.c_str()), &Sid)) return u"";
  std::unique_ptr<void, TLocalFree> Owned(Sid);
  wchar_t Name[256];
  wchar_t Domain[256];
  DWORD NameLength = 256;
  DWORD DomainLength = 256;
  SID_NAME_USE Use;
  if (!LookupAccountSidW(nullptr, Sid, Name, &NameLength, Domain, &DomainLength, &Use)) return u"";
  std::u16string Text = Text16(Domain);
  if (!Text.empty()) Text += u'\\';
  return Text + Text16(Name);
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
  return Entry;
}

// Why the object is not safe, with the accounts named. Names are looked up only then: a lookup
// may ask a domain controller, which a service start should not wait for.
std::u16string NamedProblem(TFileSecurity Security, TObjectKind Kind,
                            const std::vector<std::u16string>& Trusted) {
  if (AccessProblem(Security, Kind, Trusted).empty()) return u"";
  Security.OwnerName = AccountName(Security.Owner);
  for (TAccessEntry& Entry : Security.Entries)
    if (!Entry.Sid.empty()) Entry.Name = AccountName(Entry.Sid);
  return AccessProblem(Security, Kind, Trusted);
}

// The object's owner and entries; the system's error when they cannot be read.
std::optional<TFileSecurity> ReadSecurity(const fs::path& Path, DWORD& Error) {
  PSID Owner = nullptr;
  PACL Dacl = nullptr;
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  Error = GetNamedSecurityInfoW(Path.wstring().c_str(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &Owner,
                                nullptr, &Dacl, nullptr, &Descriptor);
  if (Error != ERROR_SUCCESS) return std::nullopt;
  std::unique_ptr<void, TLocalFree> Owned(Descriptor);
  TFileSecurity Security;
  Security.Owner = SidText(Owner);
  Security.HasDacl = Dacl != nullptr;
  for (DWORD I = 0; Dacl && I < Dacl->AceCount; ++I) {
    void* Ace = nullptr;
    if (GetAce(Dacl, I, &Ace)) Security.Entries.push_back(EntryOf(static_cast<ACE_HEADER*>(Ace)));
  }
  return Security;
}

// Full control for SYSTEM, Administrators and the service's account, reading for Users, passed
// on to everything inside, and nothing inherited from above.
struct TFolderAccess {
  explicit TFolderAccess(const std::u16string& OwnAccount) {
    std::wstring Sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    if (!OwnAccount.empty())
      Sddl += L"(A;OICI;FA;;;" + std::wstring(OwnAccount.begin(), OwnAccount.end()) + L")";
    PSECURITY_DESCRIPTOR Made = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(Sddl.c_str(), SDDL_REVISION_1, &Made,
                                                             nullptr))
      Descriptor.reset(Made);
  }
  PACL Dacl() const {
    BOOL Present = FALSE;
    BOOL Defaulted = FALSE;
    PACL List = nullptr;
    if (Descriptor) GetSecurityDescriptorDacl(Descriptor.get(), &Present, &List, &Defaulted);
    return Present ? List : nullptr;
  }
  std::unique_ptr<void, TLocalFree> Descriptor;
};

class TFolderGuard {
 public:
  TFolderGuard(TFileCheck& Check, const std::u16string& OwnAccount)
      : FCheck(Check), FTrusted(TrustedSids(OwnAccount)), FAccess(OwnAccount) {}

  // False, with the problem noted, when the folder cannot be made safe.
  bool Secure(const fs::path& Folder) {
    // Without the list made, nothing is made or set: no list at all gives everybody everything.
    if (!FAccess.Dacl()) return Fail(Folder, u"its access list cannot be made");
    SECURITY_ATTRIBUTES Attributes{sizeof Attributes, FAccess.Descriptor.get(), FALSE};
    const std::wstring Name = Folder.wstring();
    if (CreateDirectoryW(Name.c_str(), &Attributes)) return true;
    DWORD Error = GetLastError();
    if (Error != ERROR_ALREADY_EXISTS) return Fail(Folder, u"it cannot be made", Error);
    const DWORD Attribute = GetFileAttributesW(Name.c_str());
    if (Attribute == INVALID_FILE_ATTRIBUTES)
      return Fail(Folder, u"it cannot be read", GetLastError());
    if (Attribute & FILE_ATTRIBUTE_REPARSE_POINT)
      return Fail(Folder, u"it is a link to another place");
    if (!(Attribute & FILE_ATTRIBUTE_DIRECTORY)) return Fail(Folder, u"it is not a folder");
    const std::optional<TFileSecurity> Security = ReadSecurity(Folder, Error);
    if (!Security) return Fail(Folder, u"its permissions cannot be read", Error);
    const std::u16string Problem = NamedProblem(*Security, TObjectKind::Folder, FTrusted);
    if (Problem.empty()) return true;
    if (!OwnerTrusted(*Security, FTrusted)) return Fail(Folder, Problem);
    Error = SetNamedSecurityInfoW(const_cast<wchar_t*>(Name.c_str()), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, FAccess.Dacl(), nullptr);
    if (Error != ERROR_SUCCESS) return Fail(Folder, Problem + u" and cannot be mended", Error);
    FCheck.Notes.push_back(u"Folder " + Folder.u16string() + u": " + Problem +
                           u"; now only SYSTEM, Administrators and the service's account may");
    return true;
  }

 private:
  bool Fail(const fs::path& Folder, const std::u16string& Why, DWORD Error = 0) {
    FCheck.Problem = u"Folder " + Folder.u16string() + u" is not used: " + Why +
                     (Error ? u" (error " + Number(Error) + u")" : u"");
    FCheck.DataFolderSafe = false;
    return false;
  }

  TFileCheck& FCheck;
  std::vector<std::u16string> FTrusted;
  TFolderAccess FAccess;
};

std::u16string SettingsProblem(const fs::path& File, const std::vector<std::u16string>& Trusted) {
  DWORD Error = 0;
  const std::optional<TFileSecurity> Security = ReadSecurity(File, Error);
  if (!Security && (Error == ERROR_FILE_NOT_FOUND || Error == ERROR_PATH_NOT_FOUND)) return u"";
  const std::u16string Lead = u"Settings file " + File.u16string() + u" is not used: ";
  if (!Security) return Lead + u"its permissions cannot be read (error " + Number(Error) + u")";
  const std::u16string Problem = NamedProblem(*Security, TObjectKind::File, Trusted);
  if (Problem.empty()) return u"";
  return Lead + Problem +
         u". Only SYSTEM, Administrators and the service's own account may be able to change "
         u"it (icacls can set its owner and permissions)";
}

}  // namespace

TFileCheck CheckServiceFiles(const std::vector<fs::path>& Folders, const fs::path& SettingsFile) {
  TFileCheck Check;
  const std::u16string OwnAccount = ProcessAccount();
  TFolderGuard Guard(Check, OwnAccount);
  for (const fs::path& Folder : Folders)
    if (!Guard.Secure(Folder)) return Check;
  Check.Problem = SettingsProblem(SettingsFile, TrustedSids(OwnAccount));
  return Check;
}
