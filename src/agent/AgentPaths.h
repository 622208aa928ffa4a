// Where an agent finds its settings and leaves its log and crash records, for the two hosts: the
// window program and the service. A service starts in the system folder, so every path here is
// absolute and none is taken against the working directory.
#pragma once

#include <filesystem>
#include <functional>

enum class THostKind { Window, Service };

struct TAgentPaths {
  std::filesystem::path ConfigFile;
  // The file log when the settings name none (empty: no file log then).
  std::filesystem::path DefaultLogFile;
  std::filesystem::path CrashFolder;
};

// The folders the paths are made from.
struct TAgentFolders {
  std::filesystem::path Program;     // the executable's folder
  std::filesystem::path Data;        // %ProgramData%\Tagrelay
  std::filesystem::path LocalCrash;  // %LOCALAPPDATA%\Tagrelay\crash, the window program's
};

// The configuration file beside the executable when it exists there, else the one in the data
// folder when it exists. With neither, the window program keeps using (and creating) the one
// beside the executable, and the service the one in the data folder.
// The service's file log is on by default in the data folder's "log", its crash records in the
// data folder's "crash"; the window program has no default file log and its records stay in
// the user's local folder.
TAgentPaths MakeAgentPaths(THostKind Host, const TAgentFolders& Folders,
                           const std::function<bool(const std::filesystem::path&)>& Exists);

#ifdef _WIN32
// The folders of this machine and the running executable.
TAgentFolders SystemFolders();
TAgentPaths AgentPaths(THostKind Host);
#endif
