// One agent per configuration: a second start of the window program with the same configuration
// file (and so the same client identifier) brings the first one's window to the front instead of
// opening a second link.
#pragma once

#include <windows.h>

#include <filesystem>

class TSingleAgent {
 public:
  // Claims the configuration file for this process.
  explicit TSingleAgent(const std::filesystem::path& ConfigFile);
  ~TSingleAgent();
  TSingleAgent(const TSingleAgent&) = delete;
  TSingleAgent& operator=(const TSingleAgent&) = delete;

  // False when another process had claimed it first.
  bool First() const { return FFirst; }
  // Asks the first process's window to show itself.
  void ShowFirst() const;
  // The main window's side: true when Msg asks this window to show itself.
  bool IsShowRequest(UINT Msg, WPARAM WParam) const;

 private:
  HANDLE FMutex = nullptr;
  bool FFirst = true;
  UINT FShowMsg = 0;
  WPARAM FKey = 0;
};
