#include "FileTrust.h"

#include <algorithm>

namespace {

// Rights that change a file's text, or a folder's contents, or let their holder do so (by
// replacing the object or its access list). Reading, running and writing attributes are harmless.
constexpr uint32_t WriteData = 0x0002;    // a folder: add a file
constexpr uint32_t AppendData = 0x0004;   // a folder: add a folder
constexpr uint32_t DeleteChild = 0x0040;  // a folder: remove what is in it
constexpr uint32_t Delete = 0x00010000;
constexpr uint32_t WriteDac = 0x00040000;
constexpr uint32_t WriteOwner = 0x00080000;
constexpr uint32_t GenericAll = 0x10000000;
constexpr uint32_t GenericWrite = 0x40000000;
constexpr uint32_t ChangingRights =
    WriteData | AppendData | DeleteChild | Delete | WriteDac | WriteOwner | GenericAll |
    GenericWrite;

constexpr uint32_t InheritOnly = 0x08;  // an entry for what is made inside, not for the object

constexpr char16_t CreatorOwner[] = u"S-1-3-0";  // a placeholder, replaced when inherited
constexpr char16_t OwnerRights[] = u"S-1-3-4";   // the object's owner

bool Contains(const std::vector<std::u16string>& Sids, const std::u16string& Sid) {
  return std::find(Sids.begin(), Sids.end(), Sid) != Sids.end();
}

std::u16string Shown(const std::u16string& Sid, const std::u16string& Name) {
  return Name.empty() ? Sid : Name + u" (" + Sid + u")";
}

}  // namespace

std::vector<std::u16string> TrustedSids(const std::u16string& OwnAccount) {
  std::vector<std::u16string> Sids = {
      u"S-1-5-18",      // SYSTEM
      u"S-1-5-32-544",  // Administrators
      u"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // TrustedInstaller
  };
  if (!OwnAccount.empty() && !Contains(Sids, OwnAccount)) Sids.push_back(OwnAccount);
  return Sids;
}

bool OwnerTrusted(const TFileSecurity& Security, const std::vector<std::u16string>& Trusted) {
  return Contains(Trusted, Security.Owner);
}

std::u16string AccessProblem(const TFileSecurity& Security, TObjectKind Kind,
                             const std::vector<std::u16string>& Trusted) {
  // The owner can always rewrite the access list.
  if (!OwnerTrusted(Security, Trusted))
    return u"it is owned by " + Shown(Security.Owner, Security.OwnerName);
  if (!Security.HasDacl) return u"it has no access list, so anyone can change it";
  for (const TAccessEntry& Entry : Security.Entries) {
    if (Entry.Kind == TAccessEntry::TKind::Deny) continue;
    // A file's entries for what is made inside never apply; a folder's do, to the files the
    // service makes in it.
    if ((Entry.Flags & InheritOnly) && Kind == TObjectKind::File) continue;
    if (Entry.Kind == TAccessEntry::TKind::Unknown)
      return u"it has an access entry of a kind this program cannot read";
    if (!(Entry.Mask & ChangingRights)) continue;
    if (Entry.Sid == CreatorOwner || Entry.Sid == OwnerRights) continue;
    if (!Contains(Trusted, Entry.Sid))
      return u"it can be changed by " + Shown(Entry.Sid, Entry.Name);
  }
  return u"";
}
