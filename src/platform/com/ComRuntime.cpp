// Native stand-in of the COM runtime: apartments as no-ops, the task allocator,
// class objects registered in a process-wide table (what CoCreateInstance
// finds), GUID text, the file-time clock and the per-thread timers.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "ComApi.h"

namespace {

thread_local int t_initCount = 0;

struct ClassEntry {
  CLSID clsid;
  IUnknown* object;  // holds one reference
};

class ClassTable {
 public:
  static ClassTable& Instance() {
    static ClassTable table;
    return table;
  }

  DWORD Add(REFCLSID clsid, IUnknown* object) {
    object->AddRef();
    std::lock_guard<std::mutex> lock(mutex_);
    DWORD cookie = ++lastCookie_;
    entries_[cookie] = ClassEntry{clsid, object};
    return cookie;
  }

  bool Remove(DWORD cookie) {
    IUnknown* object = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = entries_.find(cookie);
      if (it == entries_.end()) return false;
      object = it->second.object;
      entries_.erase(it);
    }
    object->Release();
    return true;
  }

  // The most recently registered class object for the class, with a reference
  // for the caller.
  IUnknown* Find(REFCLSID clsid) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
      if (it->second.clsid == clsid) {
        it->second.object->AddRef();
        return it->second.object;
      }
    }
    return nullptr;
  }

 private:
  std::mutex mutex_;
  DWORD lastCookie_ = 0;
  std::map<DWORD, ClassEntry> entries_;
};

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[pos]; false if any is not a hex digit.
bool ReadHex(LPCOLESTR text, size_t pos, int digits, uint64_t& out) {
  out = 0;
  for (int i = 0; i < digits; ++i) {
    int d = HexDigit(text[pos + i]);
    if (d < 0) return false;
    out = out * 16 + static_cast<uint64_t>(d);
  }
  return true;
}

// Parses the registry form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
bool ParseGuid(LPCOLESTR text, GUID& guid) {
  if (!text) return false;
  size_t length = 0;
  while (text[length] && length < 40) ++length;
  if (length != 38 || text[0] != u'{' || text[37] != u'}') return false;
  if (text[9] != u'-' || text[14] != u'-' || text[19] != u'-' || text[24] != u'-') return false;
  uint64_t v = 0;
  if (!ReadHex(text, 1, 8, v)) return false;
  guid.Data1 = static_cast<uint32_t>(v);
  if (!ReadHex(text, 10, 4, v)) return false;
  guid.Data2 = static_cast<uint16_t>(v);
  if (!ReadHex(text, 15, 4, v)) return false;
  guid.Data3 = static_cast<uint16_t>(v);
  const size_t bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(text, bytePos[i], 2, v)) return false;
    guid.Data4[i] = static_cast<uint8_t>(v);
  }
  return true;
}

struct ThreadTimer {
  std::chrono::milliseconds period;
  std::chrono::steady_clock::time_point due;
  tagrelay::com::TimerProc proc;
};

std::atomic<uint32_t> g_lastTimerId{0};
thread_local std::map<uint32_t, ThreadTimer> t_timers;

}  // namespace

HRESULT CoInitialize(LPVOID) {
  return ++t_initCount == 1 ? S_OK : S_FALSE;
}

HRESULT CoInitializeEx(LPVOID reserved, DWORD) {
  return CoInitialize(reserved);
}

void CoUninitialize() {
  if (t_initCount > 0) --t_initCount;
}

LPVOID CoTaskMemAlloc(SIZE_T cb) {
  return std::malloc(cb ? cb : 1);
}

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  return std::realloc(pv, cb ? cb : 1);
}

void CoTaskMemFree(LPVOID pv) {
  std::free(pv);
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD, DWORD, DWORD* lpdwRegister) {
  if (!pUnk || !lpdwRegister) return E_INVALIDARG;
  *lpdwRegister = ClassTable::Instance().Add(rclsid, pUnk);
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
  return ClassTable::Instance().Remove(dwRegister) ? S_OK : E_INVALIDARG;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD, LPVOID, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IUnknown* object = ClassTable::Instance().Find(rclsid);
  if (!object) return REGDB_E_CLASSNOTREG;
  HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  return hr;
}

HRESULT CoFileTimeNow(FILETIME* lpFileTime) {
  if (!lpFileTime) return E_INVALIDARG;
  // 100 ns ticks since 1601-01-01 UTC; the Unix epoch is 11644473600 s later.
  const auto since1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  const uint64_t ticks = static_cast<uint64_t>(since1970.count() / 100) + 116444736000000000ull;
  lpFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
  lpFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return S_OK;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (!pclsid) return E_INVALIDARG;
  GUID guid{};
  if (!ParseGuid(lpsz, guid)) {
    *pclsid = GUID_NULL;
    return CO_E_CLASSSTRING;
  }
  *pclsid = guid;
  return S_OK;
}

HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
  if (!lpiid) return E_INVALIDARG;
  GUID guid{};
  if (!ParseGuid(lpsz, guid)) return E_INVALIDARG;
  *lpiid = guid;
  return S_OK;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  if (!lpsz || cchMax < 39) return 0;
  int pos = 0;
  auto put = [&](uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) lpsz[pos++] = kHex[(value >> (i * 4)) & 0xF];
  };
  lpsz[pos++] = u'{';
  put(rguid.Data1, 8);
  lpsz[pos++] = u'-';
  put(rguid.Data2, 4);
  lpsz[pos++] = u'-';
  put(rguid.Data3, 4);
  lpsz[pos++] = u'-';
  put(rguid.Data4[0], 2);
  put(rguid.Data4[1], 2);
  lpsz[pos++] = u'-';
  for (int i = 2; i < 8; ++i) put(rguid.Data4[i], 2);
  lpsz[pos++] = u'}';
  lpsz[pos++] = 0;
  return pos;
}

namespace tagrelay::com {

uint32_t SetThreadTimer(uint32_t periodMs, TimerProc proc) {
  uint32_t id = ++g_lastTimerId;
  if (id == 0) id = ++g_lastTimerId;
  const auto period = std::chrono::milliseconds(periodMs);
  t_timers[id] = ThreadTimer{period, std::chrono::steady_clock::now() + period, std::move(proc)};
  return id;
}

void KillThreadTimer(uint32_t id) {
  t_timers.erase(id);
}

size_t DispatchDueTimers() {
  const auto now = std::chrono::steady_clock::now();
  std::vector<uint32_t> due;
  for (const auto& [id, timer] : t_timers)
    if (timer.due <= now) due.push_back(id);
  size_t ran = 0;
  for (uint32_t id : due) {
    auto it = t_timers.find(id);  // an earlier procedure may have killed it
    if (it == t_timers.end()) continue;
    it->second.due = now + it->second.period;
    TimerProc proc = it->second.proc;  // the procedure may kill its own timer
    proc();
    ++ran;
  }
  return ran;
}

std::optional<std::chrono::steady_clock::time_point> NextTimerDue() {
  std::optional<std::chrono::steady_clock::time_point> next;
  for (const auto& [id, timer] : t_timers)
    if (!next || timer.due < *next) next = timer.due;
  return next;
}

size_t ThreadTimerCount() {
  return t_timers.size();
}

}  // namespace tagrelay::com
