// Runs tagrelay.exe in a folder of its own and drives its window from this process, as a user
// would: reading and typing into controls, clicking, answering message boxes.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Polls Condition every 20 ms until it holds or Timeout has passed; returns its last value.
bool WaitUntil(const std::function<bool()>& Condition, std::chrono::milliseconds Timeout);

class TRunningApp {
 public:
  // Prepares a folder with a copy of the program. Ini: the configuration file's bytes, or none
  // for a first start. IniIsDirectory: a folder takes the configuration file's name, so the file
  // can be neither read nor written.
  explicit TRunningApp(std::optional<std::string> Ini, bool IniIsDirectory = false);
  ~TRunningApp();
  TRunningApp(const TRunningApp&) = delete;
  TRunningApp& operator=(const TRunningApp&) = delete;

  // Starts the program and waits for its main window.
  void Start();
  HWND Window() const { return FWindow; }
  HWND Control(int Id) const;

  std::wstring Text(HWND Control) const;
  void SetText(HWND Control, const std::wstring& Text);
  bool Checked(HWND CheckBox) const;

  // Clicks a button from another thread. Returns the program's message box if one appears (the
  // click then completes when the box is closed), or null once the click has been handled.
  HWND Click(HWND Button);
  // Closes a message box with its OK button and waits for the click that opened it.
  void CloseMessageBox(HWND Box);
  // Sends Msg to Target from a thread of its own and returns at once (the thread ends when the
  // program has handled the message, or after a bound).
  void SendInBackground(HWND Target, UINT Msg);

  // The rows of the log view, as the program's list reports them, and the same joined by CR LF.
  std::vector<std::wstring> LogLines() const;
  std::wstring LogText() const;

  // The configuration file: its keys in section order, and its bytes.
  std::map<std::string, std::string> ReadIni() const;
  std::string IniBytes() const;
  const std::wstring& Folder() const { return FFolder; }
  std::wstring IniPath() const { return FFolder + L"\\tagrelayConfig.ini"; }

  // Asks the window to close and returns the seconds until the process has ended.
  double Close();
  DWORD ExitCode() const;
  bool Running() const;

 private:
  HWND FindTopLevel(const wchar_t* ClassName) const;
  void JoinClick();

  std::wstring FFolder;
  PROCESS_INFORMATION FProcess{};
  HWND FWindow = nullptr;
  std::thread FClickThread;
  std::vector<std::thread> FSenders;
  std::atomic<bool> FClickDone{true};
};

// Whether the notification area holds the icon of Window with the given id.
bool TrayIconExists(HWND Window, UINT Id);

// Saves what the screen shows of Window (frame included) as a PNG file.
bool SaveWindowPng(HWND Window, const std::wstring& Path);

// A Linux path of the build, as the Wine program sees it.
std::wstring WinePath(const std::string& UnixPath);

// The bytes of a file that another process may be writing; empty when it cannot be opened.
std::string FileBytes(const std::wstring& Path);
