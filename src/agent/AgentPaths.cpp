#include "AgentPaths.h"

#include "AppConfig.h"

TAgentPaths MakeAgentPaths(THostKind Host, const TAgentFolders& Folders,
                           const std::function<bool(const std::filesystem::path&)>& Exists) {
  const std::filesystem::path Beside = Folders.Program / IniFileName;
  const std::filesystem::path Shared = Folders.Data / IniFileName;
  TAgentPaths Paths;
  if (Exists(Beside))
    Paths.ConfigFile = Beside;
  else if (Exists(Shared))
    Paths.ConfigFile = Shared;
  else
    Paths.ConfigFile = Host == THostKind::Service ? Shared : Beside;
  if (Host == THostKind::Service) {
    Paths.DefaultLogFile = Folders.Data / "log" / "tagrelay.log";
    Paths.CrashFolder = Folders.Data / "crash";
  } else {
    Paths.CrashFolder = Folders.LocalCrash;
  }
  return Paths;
}
