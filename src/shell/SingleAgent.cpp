#include "SingleAgent.h"

#include <cwctype>
#include <string>

#include "MainFormIds.h"

namespace {

// FNV-1a of the lower-cased path: mutex names cannot hold backslashes.
uint32_t PathKey(const std::filesystem::path& File) {
  uint32_t Hash = 2166136261u;
  for (wchar_t C : File.wstring()) {
    Hash ^= static_cast<uint32_t>(std::towlower(C));
    Hash *= 16777619u;
  }
  return Hash;
}

BOOL CALLBACK PostShow(HWND Wnd, LPARAM Param) {
  const auto* Self = reinterpret_cast<const std::pair<UINT, WPARAM>*>(Param);
  wchar_t Class[64] = L"";
  if (GetClassNameW(Wnd, Class, 64) && std::wstring(Class) == MainFrmClassName)
    PostMessageW(Wnd, Self->first, Self->second, 0);
  return TRUE;
}

}  // namespace

TSingleAgent::TSingleAgent(const std::filesystem::path& ConfigFile)
    : FShowMsg(RegisterWindowMessageW(L"Tagrelay.ShowAgent")), FKey(PathKey(ConfigFile)) {
  const std::wstring Name = L"Global\\Tagrelay.Agent." + std::to_wstring(FKey);
  FMutex = CreateMutexW(nullptr, FALSE, Name.c_str());
  FFirst = !(FMutex && GetLastError() == ERROR_ALREADY_EXISTS);
}

TSingleAgent::~TSingleAgent() {
  if (FMutex) CloseHandle(FMutex);
}

// Every main window gets the request; only the one with the same configuration file answers it.
void TSingleAgent::ShowFirst() const {
  std::pair<UINT, WPARAM> Request{FShowMsg, FKey};
  AllowSetForegroundWindow(ASFW_ANY);
  EnumWindows(PostShow, reinterpret_cast<LPARAM>(&Request));
}

bool TSingleAgent::IsShowRequest(UINT Msg, WPARAM WParam) const {
  return FShowMsg != 0 && Msg == FShowMsg && WParam == FKey;
}
