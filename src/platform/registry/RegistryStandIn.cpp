#include "RegistryStandIn.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>

#include "Registry.h"

namespace {

struct TKeyNode {
  std::u16string Name;
  std::optional<TRegValue> Default;
  bool Refused = false;
  long EnumFault = RegEnum::Success;  // returned for every subkey index from EnumFaultFrom on
  uint32_t EnumFaultFrom = 0;
  uint64_t Changes = 0;  // counts changes of this key or anything below it
  std::vector<std::shared_ptr<TKeyNode>> Children;  // kept in listing order
};

char16_t UpperAscii(char16_t C) {
  return (C >= u'a' && C <= u'z') ? C - (u'a' - u'A') : C;
}

// Case-blind order of key names; equal when they differ only in ASCII letter case.
int CompareNames(const std::u16string& A, const std::u16string& B) {
  const size_t N = std::min(A.size(), B.size());
  for (size_t I = 0; I < N; ++I) {
    const char16_t X = UpperAscii(A[I]), Y = UpperAscii(B[I]);
    if (X != Y) return X < Y ? -1 : 1;
  }
  if (A.size() == B.size()) return 0;
  return A.size() < B.size() ? -1 : 1;
}

// Splits a backslash-separated path; nothing when a component is empty.
std::optional<std::vector<std::u16string>> SplitPath(const std::u16string& Path) {
  std::vector<std::u16string> Parts;
  if (Path.empty()) return Parts;
  size_t Start = 0;
  while (true) {
    const size_t End = Path.find(u'\\', Start);
    std::u16string Part = Path.substr(Start, End == std::u16string::npos ? End : End - Start);
    if (Part.empty()) return std::nullopt;
    Parts.push_back(std::move(Part));
    if (End == std::u16string::npos) return Parts;
    Start = End + 1;
  }
}

struct TTree {
  std::mutex Lock;
  std::shared_ptr<TKeyNode> Root = std::make_shared<TKeyNode>();
  std::function<void(const std::u16string&)> OpenHook;
};

TTree& Tree() {
  static TTree Instance;
  return Instance;
}

std::shared_ptr<TKeyNode> FindChild(const TKeyNode& Parent, const std::u16string& Name) {
  for (const auto& Child : Parent.Children)
    if (CompareNames(Child->Name, Name) == 0) return Child;
  return nullptr;
}

std::shared_ptr<TKeyNode> AddChild(TKeyNode& Parent, const std::u16string& Name) {
  if (auto Found = FindChild(Parent, Name)) return Found;
  auto Child = std::make_shared<TKeyNode>();
  Child->Name = Name;
  auto Pos = std::find_if(Parent.Children.begin(), Parent.Children.end(),
                          [&](const auto& C) { return CompareNames(C->Name, Name) > 0; });
  Parent.Children.insert(Pos, Child);
  return Child;
}

// The node of Path, or nullptr; the caller holds the tree's lock.
std::shared_ptr<TKeyNode> Find(const std::u16string& Path) {
  auto Parts = SplitPath(Path);
  if (!Parts) return nullptr;
  auto Node = Tree().Root;
  for (const auto& Part : *Parts) {
    Node = FindChild(*Node, Part);
    if (!Node) return nullptr;
  }
  return Node;
}

// Counts a change on every key from the root down to Path (as far as it exists).
void Touch(const std::u16string& Path) {
  auto Node = Tree().Root;
  ++Node->Changes;
  for (const auto& Part : SplitPath(Path).value_or(std::vector<std::u16string>{})) {
    Node = FindChild(*Node, Part);
    if (!Node) return;
    ++Node->Changes;
  }
}

// Counts a change on Node and every key below it, for a subtree being removed.
void TouchAll(TKeyNode& Node) {
  ++Node.Changes;
  for (const auto& Child : Node.Children) TouchAll(*Child);
}

std::shared_ptr<TKeyNode> Create(const std::u16string& Path) {
  auto Parts = SplitPath(Path);
  if (!Parts) return nullptr;
  auto Node = Tree().Root;
  bool Created = false;
  for (const auto& Part : *Parts) {
    auto Child = FindChild(*Node, Part);
    if (!Child) {
      Child = AddChild(*Node, Part);
      Created = true;
    }
    Node = Child;
  }
  if (Created) Touch(Path);
  return Node;
}

}  // namespace

struct TRegKey::THandle {
  std::shared_ptr<TKeyNode> Node;  // stays valid even if the key is deleted meanwhile
};

TRegKey::TRegKey(std::unique_ptr<THandle> H) : Handle(std::move(H)) {}
TRegKey::~TRegKey() = default;

std::unique_ptr<TRegKey> TRegKey::Open(const std::u16string& Path) {
  std::function<void(const std::u16string&)> Hook;
  {
    std::lock_guard Guard(Tree().Lock);
    Hook = Tree().OpenHook;
  }
  if (Hook) Hook(Path);
  std::lock_guard Guard(Tree().Lock);
  auto Node = Find(Path);
  if (!Node || Node->Refused) return nullptr;
  return std::unique_ptr<TRegKey>(new TRegKey(std::make_unique<THandle>(THandle{Node})));
}

// One index at a time, each under the lock, as the registry answers one RegEnumKeyExW at a time:
// keys added or removed meanwhile shift the listing as they would there.
std::vector<std::u16string> TRegKey::SubKeyNames() const {
  const auto Node = Handle->Node;
  auto Read = [&Node](uint32_t Index, size_t Capacity, std::u16string& Name) -> long {
    std::lock_guard Guard(Tree().Lock);
    if (Node->EnumFault != RegEnum::Success && Index >= Node->EnumFaultFrom) return Node->EnumFault;
    if (Index >= Node->Children.size()) return RegEnum::NoMoreItems;
    const std::u16string& Child = Node->Children[Index]->Name;
    if (Child.size() + 1 > Capacity) return RegEnum::MoreData;
    Name = Child;
    return RegEnum::Success;
  };
  return CollectSubKeyNames(Read, 256);
}

std::optional<TRegValue> TRegKey::DefaultValue() const {
  std::lock_guard Guard(Tree().Lock);
  return Handle->Node->Default;
}

struct TRegChangeWatch::THandle {
  std::shared_ptr<TKeyNode> Node;
  uint64_t ArmedAt = 0;
};

TRegChangeWatch::TRegChangeWatch(std::unique_ptr<THandle> H) : Handle(std::move(H)) {}
TRegChangeWatch::~TRegChangeWatch() = default;

std::unique_ptr<TRegChangeWatch> TRegChangeWatch::Arm(const std::u16string& Path) {
  std::lock_guard Guard(Tree().Lock);
  auto Node = Find(Path);
  if (!Node || Node->Refused) return nullptr;
  const uint64_t Now = Node->Changes;
  return std::unique_ptr<TRegChangeWatch>(
      new TRegChangeWatch(std::make_unique<THandle>(THandle{std::move(Node), Now})));
}

bool TRegChangeWatch::Fired() const {
  std::lock_guard Guard(Tree().Lock);
  return Handle->Node->Changes != Handle->ArmedAt;
}

namespace RegistryStandIn {

void CreateKey(const std::u16string& Path) {
  std::lock_guard Guard(Tree().Lock);
  Create(Path);
}

void SetDefaultValue(const std::u16string& Path, uint32_t Type, const std::vector<uint8_t>& Data) {
  std::lock_guard Guard(Tree().Lock);
  if (auto Node = Create(Path)) {
    Node->Default = TRegValue{Type, Data};
    Touch(Path);
  }
}

void DeleteDefaultValue(const std::u16string& Path) {
  std::lock_guard Guard(Tree().Lock);
  auto Node = Find(Path);
  if (!Node || !Node->Default) return;
  Node->Default.reset();
  Touch(Path);
}

void DeleteKey(const std::u16string& Path) {
  std::lock_guard Guard(Tree().Lock);
  const size_t Slash = Path.rfind(u'\\');
  auto Parent = Slash == std::u16string::npos ? Tree().Root : Find(Path.substr(0, Slash));
  if (!Parent) return;
  const std::u16string Name = Slash == std::u16string::npos ? Path : Path.substr(Slash + 1);
  auto Removed = FindChild(*Parent, Name);
  if (!Removed) return;
  TouchAll(*Removed);
  std::erase_if(Parent->Children, [&](const auto& C) { return C == Removed; });
  Touch(Path.substr(0, Slash == std::u16string::npos ? 0 : Slash));
}

void SetOpenRefused(const std::u16string& Path, bool Refused) {
  std::lock_guard Guard(Tree().Lock);
  if (auto Node = Create(Path)) {
    Node->Refused = Refused;
    Touch(Path);
  }
}

void SetEnumFault(const std::u16string& Path, long Rc, uint32_t FromIndex) {
  std::lock_guard Guard(Tree().Lock);
  if (auto Node = Find(Path)) {
    Node->EnumFault = Rc;
    Node->EnumFaultFrom = FromIndex;
    Touch(Path);
  }
}

void Clear() {
  std::lock_guard Guard(Tree().Lock);
  TouchAll(*Tree().Root);
  Tree().Root = std::make_shared<TKeyNode>();
}

void SetOpenHook(std::function<void(const std::u16string& Path)> Hook) {
  std::lock_guard Guard(Tree().Lock);
  Tree().OpenHook = std::move(Hook);
}

}  // namespace RegistryStandIn
