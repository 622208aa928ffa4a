#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "AgentPaths.h"
#include "CrashRecord.h"

std::filesystem::path ExecutablePath() {
  std::vector<wchar_t> Path(MAX_PATH);
  for (;;) {
    const DWORD N = GetModuleFileNameW(nullptr, Path.data(), static_cast<DWORD>(Path.size()));
    if (N == 0) return {};
    if (N < Path.size()) return std::wstring(Path.data(), N);
    Path.resize(Path.size() * 2);
  }
}

namespace {

std::filesystem::path CommonAppData() {
  wchar_t Folder[MAX_PATH] = L"";
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, Folder)))
    GetEnvironmentVariableW(L"ProgramData", Folder, MAX_PATH);
  return Folder;
}

}  // namespace

TAgentFolders SystemFolders() {
  return {ExecutablePath().parent_path(), CommonAppData() / L"Tagrelay", CrashFolder()};
}

TAgentPaths AgentPaths(THostKind Host) {
  return MakeAgentPaths(Host, SystemFolders(), [](const std::filesystem::path& File) {
    const DWORD Attributes = GetFileAttributesW(File.c_str());
    return Attributes != INVALID_FILE_ATTRIBUTES && !(Attributes & FILE_ATTRIBUTE_DIRECTORY);
  });
}
