// Windows only: what DllRegisterServer (run by regsvr32 in the test prefix) wrote, read back as
// the agent's discovery and the COM runtime read it.
#include "SimTestSupport.h"

namespace simtest {
namespace {

std::wstring ReadString(const std::wstring& key, const wchar_t* value = nullptr) {
  wchar_t buffer[1024];
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS)
    return L"<missing>";
  return buffer;
}

bool KeyExists(const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
    return false;
  RegCloseKey(handle);
  return true;
}

TEST(Registration, WritesWhatDiscoveryAndTheComRuntimeRead) {
  const std::wstring classes = L"Software\\Classes\\";
  const std::wstring clsid = L"{12226D95-F79B-42B9-BF2E-69408C20B162}";
  EXPECT_EQ(ReadString(classes + L"Tagrelay.OpcSim.1\\CLSID"), clsid);
  EXPECT_TRUE(KeyExists(classes + L"Tagrelay.OpcSim.1\\OPC"));
  EXPECT_EQ(ReadString(classes + L"Tagrelay.OpcSim.1\\OPC\\Vendor"), L"Tagrelay");
  EXPECT_EQ(ReadString(classes + L"CLSID\\" + clsid + L"\\ProgID"), L"Tagrelay.OpcSim.1");
  EXPECT_EQ(ReadString(classes + L"CLSID\\" + clsid + L"\\InprocServer32", L"ThreadingModel"),
            L"Apartment");
  const std::wstring dll = ReadString(classes + L"CLSID\\" + clsid + L"\\InprocServer32");
  EXPECT_GE(dll.size(), 10u);
  EXPECT_EQ(dll.substr(dll.size() - 10), L"opcsim.dll");
  EXPECT_TRUE(KeyExists(classes + L"CLSID\\" + clsid +
                        L"\\Implemented Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"));
  const std::wstring config = ReadString(classes + L"CLSID\\" + clsid + L"\\OpcSim", L"ConfigFile");
  EXPECT_EQ(config.substr(config.size() - 11), L"opcsim.json");
  EXPECT_EQ(ReadString(classes + L"Tagrelay.OpcSimEdge.1\\CLSID"),
            L"{AB357784-DE10-4308-97FA-F9125F50728C}");

  CoInitialize(nullptr);
  CLSID fromProgId{};
  EXPECT_EQ(CLSIDFromProgID(L"Tagrelay.OpcSim.1", &fromProgId), S_OK);
  EXPECT_TRUE(IsEqualCLSID(fromProgId, kPlantServer));
  CoUninitialize();
}

}  // namespace
}  // namespace simtest
