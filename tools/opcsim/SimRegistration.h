// Windows: the registry entries of the simulated servers, written by
// DllRegisterServer and removed by DllUnregisterServer, and the configuration
// file each registered class reads.
#pragma once

#include <filesystem>
#include <string>

#include "SimDevice.h"

namespace opcsim {

// The configuration used when none is registered: OPCSIM_CONFIG if set, else
// opcsim.json beside the DLL.
std::filesystem::path DefaultConfigPath();
// The file named by OPCSIM_CONFIG in this process's environment; empty when unset.
std::filesystem::path EnvironmentConfigPath();

// The configuration registered for a class, or empty when the class is not
// registered.
std::filesystem::path RegisteredConfigPath(REFCLSID clsid);

HRESULT RegisterServer(const SimDevice& device, const std::filesystem::path& dll,
                       const std::filesystem::path& config);
// The same keys for a class served by an EXE: LocalServer32 holds its command line.
HRESULT RegisterLocalServer(const SimDevice& device, const std::wstring& commandLine,
                            const std::filesystem::path& config);
HRESULT UnregisterServer(const SimDevice& device);

std::filesystem::path ModulePath();

}  // namespace opcsim
