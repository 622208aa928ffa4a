// Which settings files the service trusts: owned by and writable for only SYSTEM, Administrators,
// TrustedInstaller or its own account. Under Wine, also the reading of real files' permissions.
#include <gtest/gtest.h>

#include <string>

#include "SettingsTrust.h"

#ifdef _WIN32
#include <windows.h>

#include <sddl.h>

#include <fstream>
#endif

namespace {

using TKind = TAccessEntry::TKind;

const std::u16string System = u"S-1-5-18";
const std::u16string Admins = u"S-1-5-32-544";
const std::u16string Users = u"S-1-5-32-545";
const std::u16string Everyone = u"S-1-1-0";
const std::u16string Own = u"S-1-5-21-1-2-3-1000";
const std::u16string Someone = u"S-1-5-21-1-2-3-1001";

constexpr uint32_t FullAccess = 0x001F01FF;
constexpr uint32_t ReadExecute = 0x001200A9;
constexpr uint32_t InheritOnly = 0x08;

TAccessEntry Allow(const std::u16string& Sid, uint32_t Mask, uint32_t Flags = 0) {
  return {TKind::Allow, Flags, Mask, Sid, u""};
}

// The file as an installer running as SYSTEM leaves it under the data folder.
TFileSecurity Installed() {
  return {System, u"", true,
          {Allow(System, FullAccess), Allow(Admins, FullAccess), Allow(Users, ReadExecute)}};
}

TEST(SettingsTrust, OnlyTrustedAccountsMayChangeTheFile) {
  struct TCase {
    const char* What;
    TFileSecurity Security;
    std::u16string Problem;  // a part of the answer; empty: trusted
  };
  TFileSecurity OwnedBySomeone = Installed();
  OwnedBySomeone.Owner = Someone;
  OwnedBySomeone.OwnerName = u"PLANT\\op";
  TFileSecurity NoList = Installed();
  NoList.HasDacl = false;
  auto With = [](TAccessEntry Entry) {
    TFileSecurity Security = Installed();
    Security.Entries.push_back(Entry);
    return Security;
  };
  TAccessEntry Named = Allow(Users, 0x2);
  Named.Name = u"BUILTIN\\Users";
  const TCase Cases[] = {
      {"as installed", Installed(), u""},
      {"owned by the service's account", {Own, u"", true, {Allow(Own, FullAccess)}}, u""},
      {"owned by Administrators", {Admins, u"", true, {Allow(Admins, FullAccess)}}, u""},
      {"owned by a user", OwnedBySomeone, u"it is owned by PLANT\\op (S-1-5-21-1-2-3-1001)"},
      {"no access list", NoList, u"anyone can change it"},
      {"users write data", With(Named), u"it can be changed by BUILTIN\\Users (S-1-5-32-545)"},
      {"everyone appends", With(Allow(Everyone, 0x4)), u"changed by S-1-1-0"},
      {"a user may delete and replace", With(Allow(Someone, 0x00010000)), u"changed by"},
      {"a user may rewrite the list", With(Allow(Someone, 0x00040000)), u"changed by"},
      {"a user may take ownership", With(Allow(Someone, 0x00080000)), u"changed by"},
      {"generic write", With(Allow(Someone, 0x40000000)), u"changed by"},
      {"generic all", With(Allow(Someone, 0x10000000)), u"changed by"},
      {"attributes only", With(Allow(Someone, 0x0100 | 0x0010)), u""},
      {"read and execute", With(Allow(Everyone, ReadExecute)), u""},
      {"denied", With({TKind::Deny, 0, FullAccess, Someone, u""}), u""},
      {"for what is made inside only", With(Allow(Someone, FullAccess, InheritOnly)), u""},
      {"creator owner placeholder", With(Allow(u"S-1-3-0", FullAccess)), u""},
      {"owner rights", With(Allow(u"S-1-3-4", FullAccess)), u""},
      {"an entry not understood", With({TKind::Unknown, 0, 0, u"", u""}), u"cannot read"},
  };
  const std::vector<std::u16string> Trusted = TrustedSids(Own);
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    const std::u16string Problem = SettingsFileProblem(Case.Security, Trusted);
    if (Case.Problem.empty())
      EXPECT_TRUE(Problem.empty());
    else
      EXPECT_NE(Problem.find(Case.Problem), std::u16string::npos);
  }
}

TEST(SettingsTrust, AnotherAccountIsTrustedOnlyWhenTheServiceRunsAsIt) {
  const TFileSecurity Security = {Someone, u"", true, {Allow(Someone, FullAccess)}};
  EXPECT_FALSE(SettingsFileProblem(Security, TrustedSids(Own)).empty());
  EXPECT_TRUE(SettingsFileProblem(Security, TrustedSids(Someone)).empty());
}

#ifdef _WIN32
// A file made with the given access list (SDDL) set after it is made, removed at the end. (Wine
// ignores an access list given when the file is made.)
class TFileWithAccess {
 public:
  TFileWithAccess(const wchar_t* Name, const wchar_t* Sddl) {
    wchar_t Temp[MAX_PATH];
    GetTempPathW(MAX_PATH, Temp);
    FPath = std::filesystem::path(Temp) / Name;
    std::filesystem::remove(FPath);
    std::ofstream(FPath) << "[Main]\n";
    PSECURITY_DESCRIPTOR Descriptor = nullptr;
    if (Sddl && ConvertStringSecurityDescriptorToSecurityDescriptorW(Sddl, SDDL_REVISION_1,
                                                                     &Descriptor, nullptr)) {
      FSet = SetFileSecurityW(FPath.c_str(), DACL_SECURITY_INFORMATION, Descriptor);
      LocalFree(Descriptor);
    }
  }
  ~TFileWithAccess() {
    std::error_code Ignored;
    std::filesystem::remove(FPath, Ignored);
  }
  const std::filesystem::path& Path() const { return FPath; }
  bool AccessSet() const { return FSet; }

 private:
  std::filesystem::path FPath;
  bool FSet = false;
};

TEST(SettingsTrust, ReadsTheOwnerAndEntriesOfRealFiles) {
  EXPECT_EQ(UntrustedSettingsText(std::filesystem::path(L"C:\\no such folder\\x.ini")), u"");

  const TFileWithAccess Plain(L"tg_trust_plain.ini", nullptr);
  ASSERT_TRUE(std::filesystem::exists(Plain.Path()));
  EXPECT_EQ(UntrustedSettingsText(Plain.Path()), u"") << "made by this account";

  const TFileWithAccess Open(L"tg_trust_open.ini", L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;WD)");
  ASSERT_TRUE(Open.AccessSet());
  const std::u16string Text = UntrustedSettingsText(Open.Path());
  EXPECT_EQ(Text.rfind(u"Settings file " + Open.Path().u16string() + u" is not used: ", 0), 0u);
  EXPECT_NE(Text.find(u"it can be changed by "), std::u16string::npos);
  EXPECT_NE(Text.find(u"(S-1-1-0)"), std::u16string::npos);
}
#endif

}  // namespace
