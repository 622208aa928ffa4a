// The main window's start and end: the log, the settings read from the configuration file, the
// optional log file and the link, made as the window is created and torn down as it closes.
#include <memory>
#include <string>

#include "Agent.h"
#include "ComSecurity.h"
#include "IniFile.h"
#include "LogView.h"
#include "Logger.h"
#include "MainForm.h"
#include "MainFormIds.h"

void TMainFrm::FormCreate() {
  FTaskbarCreatedMsg = RegisterWindowMessageW(L"TaskbarCreated");
  InitApp();
  TrayIcon = std::make_unique<TTrayIcon>(FHandle, TrayIconId, WM_TRAYICON, L"Tagrelay");
  TrayIcon->Show(FIconDisconnected);
  QueryCount = 0;
  const bool IniRead = ReadIni();
  // After ReadIni, which clears the log.
  if (FAILED(FComSecurity)) Logger->ToLog(LogError, ComSecurityFailureText(FComSecurity), 0);
  if (FServiceRuns)
    ReportServiceRuns();
  else if (IniRead)
    InitCommunicate();
  ShowStatus();
  SetTimer(FHandle, StatusTimerId, StatusPeriodMs, nullptr);
  if (FServiceQuery && !FServiceRuns)
    SetTimer(FHandle, ServiceWatchTimerId, ServiceWatchPeriodMs, nullptr);
}

void TMainFrm::InitApp() {
  Logger = std::make_unique<TLogger>(LogView.get(), LogEnabCheckBox, FHandle);
  TAgentOptions options;
  options.Paths = AgentPaths(THostKind::Window);
  options.OpenIni = [](const std::filesystem::path& File) {
    return std::make_unique<TIniFile>(File.u16string(), IniSection);
  };
  options.NextRandom = FNextRandom;
  options.IncQuery = [this] { IncQuery(); };
  Agent = std::make_unique<TAgent>(*Logger, std::move(options));
}

bool TMainFrm::ReadIni() {
  Logger->Clear();
  const bool read = Agent->ReadSettings();
  if (read) InitControls();
  return read;
}

// The service and this window would both connect with the same client identifier: the window
// leaves the link to the service. Shown whether or not "Enable log" is ticked.
void TMainFrm::ReportServiceRuns() {
  const TAgentPaths service = AgentPaths(THostKind::Service);
  Logger->MessageToLog(
      LogError,
      u"The Tagrelay service is running on this machine and holds the link to the "
      u"SCADA server, so this window opens no link of its own.\r\n"
      u"To run the link from this window, stop the service first (\"sc stop Tagrelay\" "
      u"as administrator, or Services in the Control Panel), then start this program "
      u"again.\r\nThe service's log: " +
          service.DefaultLogFile.u16string());
}

// A service started after this window would open a second link with the same client identifier:
// the window leaves the link to it, as it does when the service runs at its start. Not while an
// Apply or Close runs, nor inside a modal loop: the next tick looks again.
void TMainFrm::WatchService() {
  if (FServiceRuns || !Agent->Link() || FGate.Busy() || FModalLoops > 0 || FInMenuLoop ||
      FInSizeMove || !FServiceQuery())
    return;
  FServiceRuns = true;
  KillTimer(FHandle, ServiceWatchTimerId);
  Agent->StopLink();
  ReportServiceRuns();
  ShowStatus();
}

void TMainFrm::InitCommunicate() {
  Agent->Start();
}

void TMainFrm::FormClose() {
  Agent->Stop();
}
