#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "AgentPaths.h"
#include "CrashRecord.h"

namespace {

std::filesystem::path ExecutableFolder() {
  std::vector<wchar_t> Path(MAX_PATH);
  for (;;) {
    const DWORD N = GetModuleFileNameW(nullptr, Path.data(), static_cast<DWORD>(Path.size()));
    if (N < Path.size()) return std::filesystem::path(std::wstring(Path.data(), N)).parent_path();
    Path.resize(Path.size() * 2);
  }
}

std::filesystem::path CommonAppData() {
  wchar_t Folder[MAX_PATH] = L"";
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, Folder)))
    GetEnvironmentVariableW(L"ProgramData", Folder, MAX_PATH);
  return Folder;
}

}  // namespace

TAgentFolders SystemFolders() {
  return {ExecutableFolder(), CommonAppData() / L"Tagrelay", CrashFolder()};
}

TAgentPaths AgentPaths(THostKind Host) {
  return MakeAgentPaths(Host, SystemFolders(), [](const std::filesystem::path& File) {
    const DWORD Attributes = GetFileAttributesW(File.c_str());
    return Attributes != INVALID_FILE_ATTRIBUTES && !(Attributes & FILE_ATTRIBUTE_DIRECTORY);
  });
}
