#include "AutoStart.h"

#include <windows.h>

#include "AgentPaths.h"

namespace {

constexpr wchar_t RunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

}  // namespace

bool TAutoStart::Enabled() const {
  return RegGetValueW(HKEY_CURRENT_USER, RunKey, FName.c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                      nullptr) == ERROR_SUCCESS;
}

bool TAutoStart::Set(bool Enable) const {
  if (!Enable) {
    LSTATUS result = RegDeleteKeyValueW(HKEY_CURRENT_USER, RunKey, FName.c_str());
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
  }
  const std::wstring command = L"\"" + ExecutablePath().wstring() + L"\"";
  return RegSetKeyValueW(HKEY_CURRENT_USER, RunKey, FName.c_str(), REG_SZ, command.c_str(),
                         static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) ==
         ERROR_SUCCESS;
}
