#include "GuiTestSupport.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <utility>

#include "MainFormIds.h"

std::string Section(const std::string& body) {
  return "[tagrelayConfig]\r\n" + body;
}

std::string LoopbackSettings(int port, const std::string& uid, const std::string& more) {
  return Section("KelScadaIp=127.0.0.1\r\nKelScadaPort=" + std::to_string(port) +
                 "\r\nuid=" + uid + "\r\nIsSSLSecure=0\r\n" + more);
}

std::wstring Widen(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

std::string Narrow(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

int ScaleForScreen(int pixels) {
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return MulDiv(pixels, dpi, 96);
}

// A control's rectangle in the client coordinates of its window.
RECT ClientRectOf(HWND window, HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void ExpectClosesWithin(TRunningApp& app, double seconds) {
  HWND window = app.Window();
  double took = app.Close();
  EXPECT_LT(took, seconds);
  EXPECT_FALSE(app.Running());
  EXPECT_EQ(app.ExitCode(), 0u);
  EXPECT_FALSE(TrayIconExists(window, TrayIconId)) << "the tray icon outlived the program";
  std::printf("closed in %.2f s\n", took);
}

namespace {

// The message box's icon control, or null.
HWND MessageBoxIcon(HWND box) {
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(c)) return c;
  }
  return nullptr;
}

// Shares of strongly red and of yellow pixels in what the screen shows of a control. Icon handles
// belong to their process, so the icon is judged by its picture: the error icon is a red disc,
// the warning icon a yellow triangle, the others blue.
std::pair<double, double> RedAndYellowShares(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return {0, 0};
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof bi.bmiHeader, w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  int red = 0, yellow = 0;
  const auto* px = static_cast<const uint32_t*>(bits);
  for (int i = 0; i < w * h; ++i) {
    int R = (px[i] >> 16) & 0xFF, G = (px[i] >> 8) & 0xFF, B = px[i] & 0xFF;
    if (R > 150 && G < 100 && B < 100) ++red;
    if (R > 180 && G > 150 && B < 100) ++yellow;
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return {red / double(w * h), yellow / double(w * h)};
}

}  // namespace

void ExpectErrorIcon(HWND box) {
  HWND icon = MessageBoxIcon(box);
  ASSERT_NE(icon, nullptr) << "no icon";
  // The box may not be painted yet when it is found.
  std::pair<double, double> shares;
  WaitUntil([&] { return (shares = RedAndYellowShares(icon)).first > 0.2; }, 3s);
  EXPECT_GT(shares.first, 0.2) << "not the error icon";
  EXPECT_LT(shares.second, 0.05);
}

HWND ApplyAndGetBox(TRunningApp& app) {
  return app.Click(app.Control(IDC_APPLYBUTTON));
}

void EnableLog(TRunningApp& app) {
  HWND checkBox = app.Control(IDC_LOGENABCHECKBOX);
  EXPECT_EQ(app.Click(checkBox), nullptr);
  EXPECT_TRUE(app.Checked(checkBox));
}

HWND OpenMenuOf(DWORD processId) {
  for (HWND w = FindWindowExW(nullptr, nullptr, L"#32768", nullptr); w;
       w = FindWindowExW(nullptr, w, L"#32768", nullptr)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == processId && IsWindowVisible(w)) return w;
  }
  return nullptr;
}
