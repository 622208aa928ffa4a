#include "SimTimer.h"

#include "ComApi.h"

#ifdef _WIN32
#include <map>
#include <mutex>

namespace opcsim {

namespace {

const wchar_t kWindowClass[] = L"TagrelayOpcSimTimerWindow";

// One message-only window per thread that has timers; destroyed with its last
// timer, so no window of this module outlives the objects that use it.
struct ThreadWindow {
  HWND hwnd = nullptr;
  std::map<UINT_PTR, std::function<void()>> procs;
};

std::mutex g_mutex;
std::map<DWORD, ThreadWindow> g_windows;
UINT_PTR g_lastId = 0;
bool g_classRegistered = false;

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

LRESULT CALLBACK TimerWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_TIMER) return DefWindowProcW(hwnd, message, wParam, lParam);
  std::function<void()> proc;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto window = g_windows.find(GetCurrentThreadId());
    if (window == g_windows.end()) return 0;
    auto it = window->second.procs.find(wParam);
    if (it == window->second.procs.end()) return 0;
    proc = it->second;
  }
  proc();
  return 0;
}

// Registers the class once per load of this module (the class of an earlier
// load was released when that load ended, see ReleaseTimerWindowClass).
bool EnsureWindowClass() {
  if (g_classRegistered) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = TimerWindowProc;
  wc.hInstance = ThisModule();
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&wc)) {
    const DWORD error = GetLastError();  // read at once: later calls reset it
    if (error != ERROR_CLASS_ALREADY_EXISTS) return false;
  }
  g_classRegistered = true;
  return true;
}

}  // namespace

bool SimTimer::Start(uint32_t periodMs, std::function<void()> proc) {
  Stop();
  std::unique_lock<std::mutex> lock(g_mutex);
  if (!EnsureWindowClass()) return false;
  ThreadWindow& window = g_windows[GetCurrentThreadId()];
  if (!window.hwnd) {
    lock.unlock();  // window creation sends messages to the procedure
    HWND hwnd = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ThisModule(), nullptr);
    lock.lock();
    if (!hwnd) return false;
    g_windows[GetCurrentThreadId()].hwnd = hwnd;
  }
  ThreadWindow& owner = g_windows[GetCurrentThreadId()];
  const UINT_PTR id = ++g_lastId;
  if (!SetTimer(owner.hwnd, id, periodMs ? periodMs : USER_TIMER_MINIMUM, nullptr)) return false;
  owner.procs[id] = std::move(proc);
  id_ = id;
  owner_ = std::this_thread::get_id();
  return true;
}

void SimTimer::Stop() {
  if (!id_) return;
  const UINT_PTR id = id_;
  id_ = 0;
  HWND destroy = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = g_windows.begin(); it != g_windows.end(); ++it) {
      if (!it->second.procs.erase(id)) continue;
      if (it->first == GetCurrentThreadId()) {
        KillTimer(it->second.hwnd, id);
        if (it->second.procs.empty()) {
          destroy = it->second.hwnd;
          g_windows.erase(it);
        }
      }
      break;
    }
  }
  if (destroy) DestroyWindow(destroy);
}

void ReleaseTimerWindowClass() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_classRegistered) UnregisterClassW(kWindowClass, ThisModule());
  g_classRegistered = false;
}

}  // namespace opcsim

#else

namespace opcsim {

bool SimTimer::Start(uint32_t periodMs, std::function<void()> proc) {
  Stop();
  id_ = tagrelay::com::SetThreadTimer(periodMs, std::move(proc));
  owner_ = std::this_thread::get_id();
  return true;
}

void SimTimer::Stop() {
  if (!id_) return;
  // A timer belongs to its thread; stopped from another thread it is only
  // forgotten here, and its procedure must then find nothing to do.
  if (owner_ == std::this_thread::get_id())
    tagrelay::com::KillThreadTimer(static_cast<uint32_t>(id_));
  id_ = 0;
}

void ReleaseTimerWindowClass() {}

}  // namespace opcsim

#endif
