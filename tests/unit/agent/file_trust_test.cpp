// Which files and folders the service trusts: owned by and changeable for only SYSTEM,
// Administrators, TrustedInstaller or its own account. Under Wine, also the check of a real data
// folder and settings file, and the mending of a folder that others could change.
#include <gtest/gtest.h>

#include <string>

#include "FileTrust.h"

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

TEST(FileTrust, OnlyTrustedAccountsMayChangeTheFile) {
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
    const std::u16string Problem = AccessProblem(Case.Security, TObjectKind::File, Trusted);
    if (Case.Problem.empty())
      EXPECT_TRUE(Problem.empty());
    else
      EXPECT_NE(Problem.find(Case.Problem), std::u16string::npos);
  }
}

TEST(FileTrust, AnotherAccountIsTrustedOnlyWhenTheServiceRunsAsIt) {
  const TFileSecurity Security = {Someone, u"", true, {Allow(Someone, FullAccess)}};
  EXPECT_FALSE(AccessProblem(Security, TObjectKind::File, TrustedSids(Own)).empty());
  EXPECT_TRUE(AccessProblem(Security, TObjectKind::File, TrustedSids(Someone)).empty());
  EXPECT_FALSE(OwnerTrusted(Security, TrustedSids(Own)));
}

// A folder where users may add files or folders (as a folder made under ProgramData allows), or
// whose entries for new files let others change them, is not safe; a file's same entries are.
TEST(FileTrust, AFolderIsSafeOnlyWhenNobodyElseCanAddToItOrChangeWhatIsMadeInIt) {
  const std::vector<std::u16string> Trusted = TrustedSids(Own);
  struct TCase {
    const char* What;
    TAccessEntry Entry;
    bool FileSafe;
    bool FolderSafe;
  };
  const TCase Cases[] = {
      {"users add files", Allow(Users, 0x2, 0x02), false, false},
      {"users add folders", Allow(Users, 0x4, 0x02), false, false},
      {"users remove what is inside", Allow(Users, 0x40), false, false},
      {"users change new files", Allow(Users, 0x2, 0x01 | InheritOnly), true, false},
      {"users read new files", Allow(Users, ReadExecute, 0x01 | InheritOnly), true, true},
      {"the new file's maker", Allow(u"S-1-3-0", FullAccess, 0x03 | InheritOnly), true, true},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    TFileSecurity Security = Installed();
    Security.Entries.push_back(Case.Entry);
    EXPECT_EQ(AccessProblem(Security, TObjectKind::File, Trusted).empty(), Case.FileSafe);
    EXPECT_EQ(AccessProblem(Security, TObjectKind::Folder, Trusted).empty(), Case.FolderSafe);
  }
}

#ifdef _WIN32
// A data folder of the test's own, removed at the end.
class TDataFolder {
 public:
  TDataFolder() {
    wchar_t Temp[MAX_PATH];
    GetTempPathW(MAX_PATH, Temp);
    FPath = std::filesystem::path(Temp) / L"tg_trust_data";
    std::filesystem::remove_all(FPath);
  }
  ~TDataFolder() {
    std::error_code Ignored;
    std::filesystem::remove_all(FPath, Ignored);
  }
  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
};

bool SetAccess(const std::filesystem::path& Path, const wchar_t* Sddl) {
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(Sddl, SDDL_REVISION_1, &Descriptor,
                                                            nullptr))
    return false;
  const bool Set = SetFileSecurityW(Path.c_str(), DACL_SECURITY_INFORMATION, Descriptor);
  LocalFree(Descriptor);
  return Set;
}

constexpr wchar_t EveryoneChanges[] = L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;WD)";

TEST(FileTrust, TheDataFolderIsMadeOrMendedAndUnsafeSettingsAreRefused) {
  const TDataFolder Data;
  const std::filesystem::path Settings = Data.Path() / L"tagrelayConfig.ini";
  const std::vector<std::filesystem::path> Folders = {Data.Path(), Data.Path() / L"log",
                                                      Data.Path() / L"crash"};

  TFileCheck Check = CheckServiceFiles(Folders, Settings);
  EXPECT_EQ(Check.Problem, u"") << "no settings file yet: the service makes it";
  EXPECT_TRUE(Check.Notes.empty());
  EXPECT_TRUE(std::filesystem::is_directory(Data.Path() / L"log"));
  EXPECT_TRUE(std::filesystem::is_directory(Data.Path() / L"crash"));

  std::ofstream(Settings) << "[tagrelayConfig]\n";
  EXPECT_EQ(CheckServiceFiles(Folders, Settings).Problem, u"") << "made by this account";

  // A folder everybody may change is given an access list of its own; then it passes as it is.
  ASSERT_TRUE(SetAccess(Data.Path() / L"log", EveryoneChanges));
  Check = CheckServiceFiles(Folders, Settings);
  EXPECT_EQ(Check.Problem, u"");
  ASSERT_EQ(Check.Notes.size(), 1u);
  EXPECT_NE(Check.Notes[0].find(u"it can be changed by "), std::u16string::npos);
  EXPECT_TRUE(CheckServiceFiles(Folders, Settings).Notes.empty());

  ASSERT_TRUE(SetAccess(Settings, EveryoneChanges));
  Check = CheckServiceFiles(Folders, Settings);
  EXPECT_TRUE(Check.DataFolderSafe);
  EXPECT_EQ(Check.Problem.rfind(u"Settings file " + Settings.u16string() + u" is not used: ", 0),
            0u);
  EXPECT_NE(Check.Problem.find(u"it can be changed by "), std::u16string::npos);
  EXPECT_NE(Check.Problem.find(u"(S-1-1-0)"), std::u16string::npos);
}
#endif

}  // namespace
