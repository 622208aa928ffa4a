// The agent's core, apart from any window: reads the settings, keeps the file log, reports the
// last crash, and runs the link (the connection manager with its router, the OPC workers and
// the server discovery) from Start to Stop. Two hosts run it: the window program and the service.
// Every call comes from the host's one thread (the window thread, or the service's main thread).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "AgentPaths.h"
#include "AppConfig.h"
#include "FileCheck.h"
#include "LinkTypes.h"
#include "TlsPolicy.h"

class TCommunicate;
class TLinkRouter;
class TLogFile;
class TLogger;

struct TAgentOptions {
  TAgentPaths Paths;
  // Opens the configuration file's section (the system's profile functions on Windows).
  std::function<std::unique_ptr<TIniStore>(const std::filesystem::path& File)> OpenIni;
  // The numbers a new client identifier is made from.
  std::function<double()> NextRandom;
  // Called on the reader thread for every request read (may be empty).
  TCallBack IncQuery;
  // The router the link gets (empty: the system's router).
  std::function<std::unique_ptr<TLinkRouter>()> MakeRouter;
  // The host's check of the files the agent is about to use, made before any is opened (may be
  // empty: every file is used).
  std::function<TFileCheck(const TAgentPaths& Paths)> CheckFiles;
};

class TAgent {
 public:
  // Logger outlives the agent.
  TAgent(TLogger& Logger, TAgentOptions Options);
  // Stops the link if it runs.
  ~TAgent();
  TAgent(const TAgent&) = delete;
  TAgent& operator=(const TAgent&) = delete;

  // Opens the file log, reports the last crash, reads the settings (storing a new client
  // identifier when there is none). False, with "Cannot read ini file" logged, when they cannot be
  // read; the link is then not started. False too when the host's check finds the files unsafe:
  // nothing of the settings is read, and the default file log says why unless its folder is
  // what is unsafe.
  bool ReadSettings();
  // Makes the link with the settings read; its first attempt follows on the reconnect timer.
  void Start();
  // Stores the four settings the window edits, for the next start. EIniWriteError when they
  // cannot be stored.
  void Store(const TAppSettings& Settings);
  // Stores the four settings the window edits and restarts the link with them (or starts it).
  // EIniWriteError when they cannot be stored.
  void Apply(const TAppSettings& Settings);
  // Closes the link for good (the router stops the OPC workers within its shared deadline), then
  // writes out and closes the file log. Nothing runs after it but abandoned workers.
  void Stop();
  // Closes the link for good as Stop does, the file log staying open.
  void StopLink();

  const TAppSettings& Settings() const { return FSettings; }
  const TAgentPaths& Paths() const { return FOptions.Paths; }
  // The link while it runs, else null.
  TCommunicate* Link() const { return FLink.get(); }
  // The file log while it is open, else null.
  TLogFile* LogFile() const { return FLogFile.get(); }

 private:
  void OpenLogFile(const std::u16string& Name, int32_t MaxKB);
  void CloseLogFile();
  void ReportLastCrash();
  void RefuseFiles(const TFileCheck& Check);

  TLogger& FLogger;
  TAgentOptions FOptions;
  TAppSettings FSettings;
  TTlsPolicy FTlsPolicy;
  std::unique_ptr<TLogFile> FLogFile;
  // After the file log: the link goes first.
  std::unique_ptr<TCommunicate> FLink;
};
