// The service host: what the service manager runs (tagrelay.exe --service). It reports
// START_PENDING and RUNNING at once and runs the agent's core with no window: settings, file log
// (on by default), Event Log for errors and start and stop, the link. STOP, SHUTDOWN and
// PRESHUTDOWN take one path: the agent stops (link closed, OPC servers disconnected within the
// router's shared deadline, file log written out) while STOP_PENDING is reported with rising
// checkpoints, then STOPPED.
#pragma once

// Hands the process's main thread to the service manager until the service has stopped. Started
// by hand, explains itself and returns ExitNotFromManager.
int RunService();
