// The program's command line: no argument runs the window; the rest manage or run the service.
#pragma once

#include <string>
#include <vector>

inline constexpr wchar_t ServiceName[] = L"Tagrelay";
inline constexpr wchar_t ServiceDisplayName[] = L"Tagrelay agent";
inline constexpr wchar_t ServiceDescription[] =
    L"Links the OPC DA servers of this machine to the SCADA server, with nobody logged on.";

struct TCommandLine {
  enum class TAction { Window, InstallService, UninstallService, RunService, Help, Invalid };
  TAction Action = TAction::Window;
  bool AutoStart = true;  // --install-service: auto (true) or demand
  std::u16string Error;   // Invalid: what is wrong
};

// The arguments after the program's name.
TCommandLine ParseCommandLine(const std::vector<std::u16string>& Arguments);

// The text --help prints.
std::u16string UsageText();

// Exit codes: the system's error numbers, so a script can tell the cases apart.
inline constexpr int ExitOk = 0;
inline constexpr int ExitUsage = 87;             // ERROR_INVALID_PARAMETER
inline constexpr int ExitAccessDenied = 5;       // ERROR_ACCESS_DENIED
inline constexpr int ExitServiceExists = 1073;   // ERROR_SERVICE_EXISTS
inline constexpr int ExitServiceMissing = 1060;  // ERROR_SERVICE_DOES_NOT_EXIST
inline constexpr int ExitNotFromManager = 1063;  // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
