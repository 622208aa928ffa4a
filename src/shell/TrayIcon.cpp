#include "TrayIcon.h"

#include <algorithm>

TTrayIcon::TTrayIcon(HWND Owner, UINT Id, UINT CallbackMessage, std::wstring Hint)
    : FOwner(Owner), FId(Id), FCallbackMessage(CallbackMessage), FHint(std::move(Hint)) {}

TTrayIcon::~TTrayIcon() {
  if (FShown) {
    NOTIFYICONDATAW data = Data();
    Shell_NotifyIconW(NIM_DELETE, &data);
  }
}

NOTIFYICONDATAW TTrayIcon::Data() const {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = FOwner;
  data.uID = FId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = FCallbackMessage;
  data.hIcon = FIcon;
  size_t n = std::min(FHint.size(), std::size(data.szTip) - 1);
  std::copy_n(FHint.c_str(), n, data.szTip);
  return data;
}

void TTrayIcon::Show(HICON Icon) {
  FIcon = Icon;
  NOTIFYICONDATAW data = Data();
  FShown = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

void TTrayIcon::SetIcon(HICON Icon) {
  FIcon = Icon;
  if (!FShown) return;
  NOTIFYICONDATAW data = Data();
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TTrayIcon::SetHint(std::wstring Hint) {
  if (Hint == FHint) return;
  FHint = std::move(Hint);
  if (!FShown) return;
  NOTIFYICONDATAW data = Data();
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TTrayIcon::Reshow() {
  Show(FIcon);
}
