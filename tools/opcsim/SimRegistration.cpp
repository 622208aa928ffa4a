#include "SimRegistration.h"

#include <string>

namespace opcsim {

namespace {

const wchar_t kClasses[] = L"Software\\Classes\\";
const wchar_t kConfigKey[] = L"OpcSim";
const wchar_t kConfigValue[] = L"ConfigFile";

std::wstring Wide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

// Creates (or opens) HKLM\<path> and sets its default value, or a named one, to
// text.
HRESULT SetValue(const std::wstring& path, const wchar_t* name, const std::wstring& text) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  return HRESULT_FROM_WIN32(rc);
}

HRESULT CreateKey(const std::wstring& path) {
  HKEY key = nullptr;
  const LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr);
  if (rc == ERROR_SUCCESS) RegCloseKey(key);
  return HRESULT_FROM_WIN32(rc);
}

}  // namespace

std::filesystem::path ModulePath() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ModulePath), &module);
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  return std::filesystem::path(std::wstring(path, length));
}

std::filesystem::path EnvironmentConfigPath() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"OPCSIM_CONFIG", buffer, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return std::filesystem::path(std::wstring(buffer, length));
  return {};
}

std::filesystem::path DefaultConfigPath() {
  const std::filesystem::path fromEnvironment = EnvironmentConfigPath();
  if (!fromEnvironment.empty()) return fromEnvironment;
  return ModulePath().parent_path() / L"opcsim.json";
}

std::filesystem::path RegisteredConfigPath(REFCLSID clsid) {
  const std::wstring path =
      std::wstring(kClasses) + L"CLSID\\" + GuidText(clsid) + L"\\" + kConfigKey;
  wchar_t buffer[MAX_PATH];
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), kConfigValue, RRF_RT_REG_SZ, nullptr, buffer,
                   &size) != ERROR_SUCCESS)
    return {};
  return std::filesystem::path(std::wstring(buffer));
}

namespace {

// The keys of a server class, with the server key (InprocServer32 or LocalServer32) and its
// values.
HRESULT WriteClassKeys(const SimDevice& device, const std::wstring& serverKey,
                      const std::wstring& serverPath, const wchar_t* threadingModel,
                      const std::filesystem::path& config) {
  const std::wstring progId = std::wstring(kClasses) + Wide(device.ProgId());
  const std::wstring clsidText = GuidText(device.Clsid());
  const std::wstring clsid = std::wstring(kClasses) + L"CLSID\\" + clsidText;
  const std::wstring category = GuidText(CATID_OPCDAServer20);
  const std::wstring description = Wide(device.Description());
  const HRESULT results[] = {
      SetValue(progId, nullptr, description),
      SetValue(progId + L"\\CLSID", nullptr, clsidText),
      CreateKey(progId + L"\\OPC"),
      SetValue(progId + L"\\OPC\\Vendor", nullptr, Wide(device.Vendor())),
      SetValue(clsid, nullptr, description),
      SetValue(clsid + L"\\ProgID", nullptr, Wide(device.ProgId())),
      SetValue(clsid + L"\\" + serverKey, nullptr, serverPath),
      threadingModel ? SetValue(clsid + L"\\" + serverKey, L"ThreadingModel", threadingModel)
                     : S_OK,
      CreateKey(clsid + L"\\Implemented Categories\\" + category),
      SetValue(std::wstring(kClasses) + L"Component Categories\\" + category, L"409",
               L"OPC Data Access Servers Version 2.0"),
      SetValue(clsid + L"\\" + kConfigKey, kConfigValue, config.wstring()),
  };
  for (HRESULT hr : results)
    if (FAILED(hr)) return hr;
  return S_OK;
}

}  // namespace

HRESULT RegisterServer(const SimDevice& device, const std::filesystem::path& dll,
                       const std::filesystem::path& config) {
  return WriteClassKeys(device, L"InprocServer32", dll.wstring(), L"Apartment", config);
}

HRESULT RegisterLocalServer(const SimDevice& device, const std::wstring& commandLine,
                            const std::filesystem::path& config) {
  return WriteClassKeys(device, L"LocalServer32", commandLine, nullptr, config);
}

HRESULT UnregisterServer(const SimDevice& device) {
  const std::wstring progId = std::wstring(kClasses) + Wide(device.ProgId());
  const std::wstring clsid = std::wstring(kClasses) + L"CLSID\\" + GuidText(device.Clsid());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, progId.c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, clsid.c_str());
  return S_OK;
}

}  // namespace opcsim
