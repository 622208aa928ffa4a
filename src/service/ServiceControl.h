// The Tagrelay service in the service manager: installing, removing, asking whether it runs, and
// the command line's own actions with their messages and exit codes.
#pragma once

#include <string>

#include "CommandLine.h"

// Installs the service to run this executable with --service, and registers the Event Log
// source. Returns the exit code; Message says what happened.
int InstallService(bool AutoStart, std::u16string& Message);
// Stops the service (waiting up to 10 s for it) and removes it with its Event Log source.
int UninstallService(std::u16string& Message);
// True while the service is installed and not stopped (starting, running, stopping).
bool ServiceRuns();

// Runs the action of a command line other than the window's; returns the exit code.
int RunCommand(const TCommandLine& Command);
