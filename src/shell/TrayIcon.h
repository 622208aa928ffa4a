// The program's icon in the notification area, shown for the life of the object.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

class TTrayIcon {
 public:
  // Clicks and other mouse messages arrive at Owner as CallbackMessage with the mouse message in
  // LPARAM.
  TTrayIcon(HWND Owner, UINT Id, UINT CallbackMessage, std::wstring Hint);
  ~TTrayIcon();
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  void Show(HICON Icon);
  void SetIcon(HICON Icon);
  // The tip shown over the icon (at most 127 characters are kept).
  void SetHint(std::wstring Hint);
  // Explorer restarted: the icon has to be added again.
  void Reshow();

 private:
  NOTIFYICONDATAW Data() const;

  HWND FOwner;
  UINT FId;
  UINT FCallbackMessage;
  std::wstring FHint;
  HICON FIcon = nullptr;
  bool FShown = false;
};
