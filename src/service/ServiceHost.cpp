#include "ServiceHost.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "Agent.h"
#include "ComSecurity.h"
#include "CommandLine.h"
#include "Console.h"
#include "EventLogSink.h"
#include "FileTrust.h"
#include "IniFile.h"
#include "Logger.h"

namespace {

constexpr DWORD StartWaitHintMs = 3000;
constexpr DWORD StopWaitHintMs = 5000;
constexpr DWORD StopCheckpointMs = 500;

// The state the control handler (on the dispatcher's thread) and ServiceMain share.
SERVICE_STATUS_HANDLE StatusHandle = nullptr;
HANDLE StopEvent = nullptr;
std::atomic<DWORD> CheckPoint{0};

void Report(DWORD State, DWORD WaitHint = 0, DWORD ExitCode = NO_ERROR) {
  SERVICE_STATUS Status{};
  Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  Status.dwCurrentState = State;
  Status.dwControlsAccepted =
      State == SERVICE_RUNNING
          ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN
          : 0;
  Status.dwWin32ExitCode = ExitCode;
  const bool Pending = State == SERVICE_START_PENDING || State == SERVICE_STOP_PENDING;
  Status.dwCheckPoint = Pending ? ++CheckPoint : 0;
  Status.dwWaitHint = WaitHint;
  SetServiceStatus(StatusHandle, &Status);
}

DWORD WINAPI ControlHandler(DWORD Control, DWORD, void*, void*) {
  switch (Control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
      SetEvent(StopEvent);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
  }
  return ERROR_CALL_NOT_IMPLEMENTED;
}

TAgentOptions ServiceOptions() {
  TAgentOptions Options;
  Options.Paths = AgentPaths(THostKind::Service);
  Options.OpenIni = [](const std::filesystem::path& File) {
    return std::make_unique<TIniFile>(File.u16string(), IniSection);
  };
  auto Random = std::make_shared<TUnitRandom>();
  Options.NextRandom = [Random] { return Random->Next(); };
  // The data folder, then the log's and the crash records' folders in it.
  Options.CheckFiles = [](const TAgentPaths& Paths) {
    return CheckServiceFiles(
        {SystemFolders().Data, Paths.DefaultLogFile.parent_path(), Paths.CrashFolder},
        Paths.ConfigFile);
  };
  return Options;
}

// The agent stops on a thread of its own while this one keeps the service manager informed.
void StopAgent(TAgent& Agent) {
  std::promise<void> Stopped;
  std::future<void> Done = Stopped.get_future();
  std::thread Stopper([&] {
    Agent.Stop();
    Stopped.set_value();
  });
  do {
    Report(SERVICE_STOP_PENDING, StopWaitHintMs);
  } while (Done.wait_for(std::chrono::milliseconds(StopCheckpointMs)) !=
           std::future_status::ready);
  Stopper.join();
}

// Runs the agent until a stop control; returns the exit code to report with STOPPED.
DWORD RunAgent() {
  // Before anything is marshalled; the agent runs on whatever the result.
  TComSecurity ComSecurity;
  TLogger Logger;
  TSystemEventLog EventLog;
  TEventLogSink Events(EventLog);
  Logger.AddSink(&Events);
  TAgent Agent(Logger, ServiceOptions());
  const bool Read = Agent.ReadSettings();
  if (FAILED(ComSecurity.Result()))
    Logger.ToLog(LogError, ComSecurityFailureText(ComSecurity.Result()), 0);
  if (!Read) {
    Agent.Stop();
    Logger.RemoveSink(&Events);
    return ERROR_BAD_CONFIGURATION;
  }
  Agent.Start();
  Report(SERVICE_RUNNING);
  const std::u16string Started =
      u"Tagrelay service started; settings from " + Agent.Paths().ConfigFile.u16string();
  Logger.ToLog(LogInfo, Started, 0);
  Events.Note(Started);

  WaitForSingleObject(StopEvent, INFINITE);
  Report(SERVICE_STOP_PENDING, StopWaitHintMs);
  Logger.ToLog(LogInfo, u"Tagrelay service stopping", 0);
  StopAgent(Agent);
  Logger.RemoveSink(&Events);
  Events.Note(u"Tagrelay service stopped");
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  StatusHandle = RegisterServiceCtrlHandlerExW(ServiceName, ControlHandler, nullptr);
  if (!StatusHandle) return;
  Report(SERVICE_START_PENDING, StartWaitHintMs);
  const DWORD ExitCode = RunAgent();
  Report(SERVICE_STOPPED, 0, ExitCode);
}

}  // namespace

int RunService() {
  StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  wchar_t Name[] = L"Tagrelay";
  SERVICE_TABLE_ENTRYW Table[] = {{Name, ServiceMain}, {nullptr, nullptr}};
  const bool Dispatched = StartServiceCtrlDispatcherW(Table);
  const DWORD Error = Dispatched ? NO_ERROR : GetLastError();
  CloseHandle(StopEvent);
  if (Dispatched) return ExitOk;
  if (Error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
    WriteConsoleText(
        u"tagrelay.exe --service is what the service manager runs; it cannot be "
        u"started by hand (error 1063).\r\nInstall the service with "
        u"\"tagrelay.exe --install-service\", then start it with "
        u"\"sc start Tagrelay\".",
        true);
    return ExitNotFromManager;
  }
  WriteConsoleText(
      u"The service could not start (error " +
          [&] {
            const std::string Digits = std::to_string(Error);
            return std::u16string(Digits.begin(), Digits.end());
          }() +
          u").",
      true);
  return static_cast<int>(Error);
}
