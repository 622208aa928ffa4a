#include "OPCDiscovery.h"

#include <algorithm>
#include <optional>

#include "Logger.h"
#include "Registry.h"

namespace {

const std::u16string ClassesPath = u"Software\\Classes";

std::u16string UpperAscii(std::u16string S) {
  for (char16_t& C : S)
    if (C >= u'a' && C <= u'z') C -= u'a' - u'A';
  return S;
}

// The class identifier held by a "CLSID" key's default value: string values only, up to their
// first NUL. A value of another type counts as no class identifier, so one malformed entry skips
// only its own candidate.
std::u16string ClassIdOf(const TRegKey& Key) {
  const std::optional<TRegValue> Value = Key.DefaultValue();
  if (!Value || (Value->Type != RegSz && Value->Type != RegExpandSz)) return {};
  std::u16string Text;
  for (size_t I = 0; I + 1 < Value->Data.size(); I += 2) {
    const char16_t C = static_cast<char16_t>(Value->Data[I] | (Value->Data[I + 1] << 8));
    if (C == u'\0') break;
    Text.push_back(C);
  }
  return Text;
}

// The (name, class identifier) pair of one key under Software\Classes; either part is empty when
// the key does not provide it.
TOPCServerEntry Candidate(const std::u16string& KeyName) {
  TOPCServerEntry Entry;
  const std::u16string KeyPath = ClassesPath + u"\\" + KeyName;
  const auto Key = TRegKey::Open(KeyPath);
  if (!Key) return Entry;
  for (const std::u16string& Sub : Key->SubKeyNames()) {
    const std::u16string Upper = UpperAscii(Sub);
    if (Upper == u"CLSID") {
      if (const auto ClassKey = TRegKey::Open(KeyPath + u"\\" + Sub))
        Entry.GUID = ClassIdOf(*ClassKey);
    } else if (Upper == u"OPC") {
      Entry.Name = KeyName;
    }
  }
  return Entry;
}

// One walk; nothing when the classes key cannot be opened.
std::optional<TOPCServers> WalkClasses(const TDiscoveryLog& Log) {
  Log(LogInfo, u"Observing OPC servers...");
  TOPCServers Found;
  const auto Classes = TRegKey::Open(ClassesPath);
  if (!Classes) {
    Log(LogError, u"Cannot observe OPC servers");
    return std::nullopt;
  }
  for (const std::u16string& KeyName : Classes->SubKeyNames()) {
    TOPCServerEntry Entry = Candidate(KeyName);
    if (Entry.Name.empty() || Entry.GUID.empty()) continue;
    const bool Known = std::any_of(Found.begin(), Found.end(), [&](const TOPCServerEntry& F) {
      return F.Name == Entry.Name || F.GUID == Entry.GUID;
    });
    if (!Known) Found.push_back(std::move(Entry));
  }
  Log(LogDone, u"");
  return Found;
}

}  // namespace

TOPCServers WalkOPCServers(TLogger* Logger) {
  return WalkOPCServers([Logger](int32_t Cmd, const std::u16string& Text) {
    if (Logger) Logger->ToLog(Cmd, Text, 0);
  });
}

TOPCServers WalkOPCServers(const TDiscoveryLog& Log) {
  return WalkClasses(Log).value_or(TOPCServers{});
}

TOPCServerCache::TOPCServerCache() = default;
TOPCServerCache::~TOPCServerCache() = default;

// A reused result logs what the walk that found it logged, so the log reads the same whether or
// not the registry was read again.
TOPCServers TOPCServerCache::Servers(const TDiscoveryLog& Log) {
  std::unique_lock Guard(Lock);
  if (Watch && !Watch->Fired()) {
    TOPCServers Reused = Last;
    Guard.unlock();
    Log(LogInfo, u"Observing OPC servers...");
    Log(LogDone, u"");
    return Reused;
  }
  Guard.unlock();
  auto Armed = TRegChangeWatch::Arm(ClassesPath);
  ++WalkCount;
  std::optional<TOPCServers> Found = WalkClasses(Log);
  if (!Found) return {};
  Guard.lock();
  Watch = std::move(Armed);
  Last = *Found;
  return std::move(*Found);
}
