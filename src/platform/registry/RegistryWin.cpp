#include <windows.h>

#include <algorithm>

#include "Registry.h"

namespace {

const wchar_t* Wide(const std::u16string& S) {
  return reinterpret_cast<const wchar_t*>(S.c_str());
}

}  // namespace

struct TRegKey::THandle {
  HKEY Key = nullptr;
  ~THandle() {
    if (Key) RegCloseKey(Key);
  }
};

TRegKey::TRegKey(std::unique_ptr<THandle> H) : Handle(std::move(H)) {}
TRegKey::~TRegKey() = default;

std::unique_ptr<TRegKey> TRegKey::Open(const std::u16string& Path) {
  auto H = std::make_unique<THandle>();
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(Path), 0, KEY_READ, &H->Key) != ERROR_SUCCESS) {
    H->Key = nullptr;
    return nullptr;
  }
  return std::unique_ptr<TRegKey>(new TRegKey(std::move(H)));
}

// Enumerates by index rather than up to a count taken beforehand, which would cut the list short
// when another program adds keys during the walk.
std::vector<std::u16string> TRegKey::SubKeyNames() const {
  DWORD MaxLen = 0;
  if (RegQueryInfoKeyW(Handle->Key, nullptr, nullptr, nullptr, nullptr, &MaxLen, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return {};
  const HKEY Key = Handle->Key;
  auto Read = [Key](uint32_t Index, size_t Capacity, std::u16string& Name) -> long {
    Name.resize(Capacity);
    DWORD Len = static_cast<DWORD>(Capacity);
    const LONG Rc = RegEnumKeyExW(Key, Index, reinterpret_cast<wchar_t*>(Name.data()), &Len,
                                  nullptr, nullptr, nullptr, nullptr);
    Name.resize(Rc == ERROR_SUCCESS ? Len : 0);
    return Rc;
  };
  return CollectSubKeyNames(Read, std::max<size_t>(MaxLen + 1, 256));
}

std::optional<TRegValue> TRegKey::DefaultValue() const {
  TRegValue Value;
  DWORD Type = 0, Size = 0;
  LONG Rc = RegQueryValueExW(Handle->Key, L"", nullptr, &Type, nullptr, &Size);
  while (Rc == ERROR_SUCCESS || Rc == ERROR_MORE_DATA) {
    Value.Data.resize(Size);
    Rc = RegQueryValueExW(Handle->Key, L"", nullptr, &Type, Value.Data.data(), &Size);
    if (Rc == ERROR_SUCCESS) {
      Value.Data.resize(Size);
      Value.Type = Type;
      return Value;
    }
  }
  return std::nullopt;
}

struct TRegChangeWatch::THandle {
  HKEY Key = nullptr;
  HANDLE Event = nullptr;
  ~THandle() {
    if (Key) RegCloseKey(Key);  // ends the notification before its event goes
    if (Event) CloseHandle(Event);
  }
};

TRegChangeWatch::TRegChangeWatch(std::unique_ptr<THandle> H) : Handle(std::move(H)) {}
TRegChangeWatch::~TRegChangeWatch() = default;

namespace {
constexpr DWORD WatchedChanges =
    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
// Keeps the notification armed when the arming thread ends (the reader thread of one connection
// arms it, the next connection's thread asks); Windows before 8 refuses the flag.
constexpr DWORD ThreadAgnostic = 0x10000000L;
}  // namespace

std::unique_ptr<TRegChangeWatch> TRegChangeWatch::Arm(const std::u16string& Path) {
  auto H = std::make_unique<THandle>();
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(Path), 0, KEY_NOTIFY, &H->Key) != ERROR_SUCCESS) {
    H->Key = nullptr;
    return nullptr;
  }
  H->Event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!H->Event) return nullptr;
  LONG Rc = RegNotifyChangeKeyValue(H->Key, TRUE, WatchedChanges | ThreadAgnostic, H->Event, TRUE);
  if (Rc == ERROR_INVALID_PARAMETER)
    Rc = RegNotifyChangeKeyValue(H->Key, TRUE, WatchedChanges, H->Event, TRUE);
  if (Rc != ERROR_SUCCESS) return nullptr;
  return std::unique_ptr<TRegChangeWatch>(new TRegChangeWatch(std::move(H)));
}

bool TRegChangeWatch::Fired() const {
  return WaitForSingleObject(Handle->Event, 0) != WAIT_TIMEOUT;
}
