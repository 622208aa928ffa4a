#include "ServiceControl.h"

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "Console.h"
#include "EventLogSink.h"
#include "ServiceHost.h"

namespace {

struct TServiceHandleCloser {
  void operator()(SC_HANDLE Handle) const { CloseServiceHandle(Handle); }
};
using TServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, TServiceHandleCloser>;

constexpr wchar_t EventLogKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tagrelay";
constexpr DWORD StopWaitMs = 10000;

std::u16string U(const std::wstring& Text) {
  return std::u16string(Text.begin(), Text.end());
}

std::wstring ExecutablePath() {
  std::vector<wchar_t> Path(MAX_PATH);
  for (;;) {
    const DWORD N = GetModuleFileNameW(nullptr, Path.data(), static_cast<DWORD>(Path.size()));
    if (N < Path.size()) return std::wstring(Path.data(), N);
    Path.resize(Path.size() * 2);
  }
}

std::u16string SystemText(DWORD Error) {
  wchar_t* Buffer = nullptr;
  const DWORD N = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, Error, 0, reinterpret_cast<wchar_t*>(&Buffer), 0, nullptr);
  std::wstring Text = N ? std::wstring(Buffer, N) : L"error " + std::to_wstring(Error);
  if (Buffer) LocalFree(Buffer);
  while (!Text.empty() && (Text.back() == L'\n' || Text.back() == L'\r' || Text.back() == L' '))
    Text.pop_back();
  return U(Text);
}

int Failure(DWORD Error, const std::u16string& What, std::u16string& Message) {
  if (Error == ERROR_ACCESS_DENIED) {
    Message = What + u": access denied. Run it from a command prompt started as administrator.";
    return ExitAccessDenied;
  }
  Message = What + u": " + SystemText(Error);
  return Error ? static_cast<int>(Error) : 1;
}

TServiceHandle OpenManager(DWORD Access) {
  return TServiceHandle(OpenSCManagerW(nullptr, nullptr, Access));
}

// The message table in the executable lets the Event Viewer show the events' texts.
void RegisterEventSource(const std::wstring& Exe) {
  HKEY Key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, EventLogKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &Key,
                      nullptr) != ERROR_SUCCESS)
    return;
  const DWORD Types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  RegSetValueExW(Key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                 reinterpret_cast<const BYTE*>(Exe.c_str()),
                 static_cast<DWORD>((Exe.size() + 1) * sizeof(wchar_t)));
  RegSetValueExW(Key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&Types),
                 sizeof Types);
  RegCloseKey(Key);
}

bool WaitStopped(SC_HANDLE Service) {
  SERVICE_STATUS Status{};
  const ULONGLONG Until = GetTickCount64() + StopWaitMs;
  while (QueryServiceStatus(Service, &Status) && Status.dwCurrentState != SERVICE_STOPPED) {
    if (GetTickCount64() >= Until) return false;
    Sleep(100);
  }
  return true;
}

}  // namespace

int InstallService(bool AutoStart, std::u16string& Message) {
  const std::u16string What = u"Cannot install the Tagrelay service";
  TServiceHandle Manager = OpenManager(SC_MANAGER_CREATE_SERVICE);
  if (!Manager) return Failure(GetLastError(), What, Message);
  const std::wstring Exe = ExecutablePath();
  const std::wstring CommandLine = L"\"" + Exe + L"\" --service";
  TServiceHandle Service(CreateServiceW(
      Manager.get(), ServiceName, ServiceDisplayName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
      AutoStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
      CommandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!Service) {
    const DWORD Error = GetLastError();
    if (Error == ERROR_SERVICE_EXISTS) {
      Message = What + u": it is installed already (remove it first with --uninstall-service).";
      return ExitServiceExists;
    }
    return Failure(Error, What, Message);
  }
  SERVICE_DESCRIPTIONW Description{const_cast<wchar_t*>(ServiceDescription)};
  ChangeServiceConfig2W(Service.get(), SERVICE_CONFIG_DESCRIPTION, &Description);
  RegisterEventSource(Exe);
  Message = u"The Tagrelay service is installed (" +
            std::u16string(AutoStart ? u"starts with Windows" : u"started by hand") + u"): " +
            U(CommandLine) + u"\r\nStart it with \"sc start Tagrelay\".";
  return ExitOk;
}

int UninstallService(std::u16string& Message) {
  const std::u16string What = u"Cannot remove the Tagrelay service";
  TServiceHandle Manager = OpenManager(SC_MANAGER_CONNECT);
  if (!Manager) return Failure(GetLastError(), What, Message);
  TServiceHandle Service(
      OpenServiceW(Manager.get(), ServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!Service) {
    const DWORD Error = GetLastError();
    if (Error == ERROR_SERVICE_DOES_NOT_EXIST) {
      Message = What + u": it is not installed.";
      return ExitServiceMissing;
    }
    return Failure(Error, What, Message);
  }
  SERVICE_STATUS Status{};
  if (ControlService(Service.get(), SERVICE_CONTROL_STOP, &Status) && !WaitStopped(Service.get())) {
    Message = What + u": it did not stop within 10 s.";
    return static_cast<int>(ERROR_SERVICE_REQUEST_TIMEOUT);
  }
  if (!DeleteService(Service.get())) return Failure(GetLastError(), What, Message);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, EventLogKey);
  Message = u"The Tagrelay service is removed.";
  return ExitOk;
}

bool ServiceRuns() {
  TServiceHandle Manager = OpenManager(SC_MANAGER_CONNECT);
  if (!Manager) return false;
  TServiceHandle Service(OpenServiceW(Manager.get(), ServiceName, SERVICE_QUERY_STATUS));
  SERVICE_STATUS Status{};
  return Service && QueryServiceStatus(Service.get(), &Status) &&
         Status.dwCurrentState != SERVICE_STOPPED;
}

int RunCommand(const TCommandLine& Command) {
  using TAction = TCommandLine::TAction;
  std::u16string Message;
  int Code = ExitOk;
  switch (Command.Action) {
    case TAction::RunService:
      return RunService();
    case TAction::InstallService:
      Code = InstallService(Command.AutoStart, Message);
      break;
    case TAction::UninstallService:
      Code = UninstallService(Message);
      break;
    case TAction::Help:
      Message = UsageText();
      break;
    case TAction::Invalid:
      Message = Command.Error + u"\r\n" + UsageText();
      Code = ExitUsage;
      break;
    case TAction::Window:
      break;
  }
  WriteConsoleText(Message, Code != ExitOk);
  return Code;
}
