#include "AppDriver.h"

#include <commctrl.h>
#include <wincodec.h>

#include <sstream>
#include <vector>

#include "MainFormIds.h"

namespace {

constexpr UINT SendTimeoutMs = 10000;

struct TFindData {
  DWORD ProcessId;
  const wchar_t* ClassName;
  HWND Found;
};

BOOL CALLBACK FindWindowOfProcess(HWND wnd, LPARAM param) {
  auto* data = reinterpret_cast<TFindData*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  wchar_t cls[64] = {};
  GetClassNameW(wnd, cls, 64);
  if (pid == data->ProcessId && wcscmp(cls, data->ClassName) == 0 && IsWindowVisible(wnd)) {
    data->Found = wnd;
    return FALSE;
  }
  return TRUE;
}

std::wstring UniqueFolder() {
  static std::atomic<int> counter{0};
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"tagrelay-gui-" +
                        std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++counter);
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

void RemoveFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &fd);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveFolder(path);
      else
        DeleteFileW(path.c_str());
    } while (FindNextFileW(find, &fd));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

bool WaitUntil(const std::function<bool()>& Condition, std::chrono::milliseconds Timeout) {
  auto end = std::chrono::steady_clock::now() + Timeout;
  for (;;) {
    if (Condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    Sleep(20);
  }
}

std::wstring WinePath(const std::string& UnixPath) {
  std::wstring path = L"Z:";
  for (char c : UnixPath) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
  return path;
}

TRunningApp::TRunningApp(std::optional<std::string> Ini, bool IniIsDirectory)
    : FFolder(UniqueFolder()) {
  CopyFileW(WinePath(TAGRELAY_EXE).c_str(), (FFolder + L"\\tagrelay.exe").c_str(), FALSE);
  if (IniIsDirectory) CreateDirectoryW(IniPath().c_str(), nullptr);
  if (Ini) {
    HANDLE file =
        CreateFileW(IniPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, Ini->data(), static_cast<DWORD>(Ini->size()), &written, nullptr);
    CloseHandle(file);
  }
}

TRunningApp::~TRunningApp() {
  if (FProcess.hProcess) {
    if (Running()) {
      TerminateProcess(FProcess.hProcess, 99);
      WaitForSingleObject(FProcess.hProcess, 5000);
    }
    CloseHandle(FProcess.hProcess);
    CloseHandle(FProcess.hThread);
  }
  if (FClickThread.joinable()) FClickThread.join();
  for (auto& sender : FSenders) sender.join();
  RemoveFolder(FFolder);
}

void TRunningApp::Start() {
  std::wstring exe = FFolder + L"\\tagrelay.exe";
  std::wstring cmd = L"\"" + exe + L"\"";
  // The program gets no standard handles: it must not hold the test's output open.
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, FFolder.c_str(),
                      &si, &FProcess)) {
    return;
  }
  WaitUntil([this] { return (FWindow = FindTopLevel(MainFrmClassName)) != nullptr || !Running(); },
            std::chrono::seconds(20));
}

HWND TRunningApp::FindTopLevel(const wchar_t* ClassName) const {
  TFindData data{FProcess.dwProcessId, ClassName, nullptr};
  EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&data));
  return data.Found;
}

HWND TRunningApp::Control(int Id) const {
  return GetDlgItem(FWindow, Id);
}

// The text may grow between asking its length and reading it (the status line changes every
// 250 ms): a read that fills the room given may be cut short, so it is read again with more room.
std::wstring TRunningApp::Text(HWND Control) const {
  DWORD_PTR length = 0;
  SendMessageTimeoutW(Control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &length);
  for (size_t room = length + 256;; room *= 2) {
    std::wstring text(room, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(Control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, SendTimeoutMs, &copied);
    if (copied + 1 < room || room > (1u << 20)) {
      text.resize(copied);
      return text;
    }
  }
}

void TRunningApp::SetText(HWND Control, const std::wstring& Text) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(Control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Text.c_str()),
                      SMTO_ABORTIFHUNG, SendTimeoutMs, &result);
}

bool TRunningApp::Checked(HWND CheckBox) const {
  DWORD_PTR state = 0;
  SendMessageTimeoutW(CheckBox, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &state);
  return state == BST_CHECKED;
}

HWND TRunningApp::Click(HWND Button) {
  JoinClick();
  FClickDone = false;
  FClickThread = std::thread([this, Button] {
    // Bounded, so that a program that stops answering fails the test instead of hanging it.
    DWORD_PTR result = 0;
    SendMessageTimeoutW(Button, BM_CLICK, 0, 0, SMTO_NORMAL, 60000, &result);
    FClickDone = true;
  });
  HWND box = nullptr;
  WaitUntil([&] { return (box = FindTopLevel(L"#32770")) != nullptr || FClickDone; },
            std::chrono::seconds(20));
  if (!box) JoinClick();
  return box;
}

void TRunningApp::CloseMessageBox(HWND Box) {
  PostMessageW(Box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  WaitUntil([this] { return FClickDone.load(); }, std::chrono::seconds(20));
  JoinClick();
}

void TRunningApp::SendInBackground(HWND Target, UINT Msg) {
  FSenders.emplace_back([Target, Msg] {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(Target, Msg, 0, 0, SMTO_NORMAL, 60000, &result);
  });
}

// The list answers LVM_GETITEMTEXTW in its own address space: the item and its text buffer are
// placed in the program's memory and read back from there.
std::vector<std::wstring> TRunningApp::LogLines() const {
  std::vector<std::wstring> lines;
  HWND view = Control(IDC_MEMOLOG);
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(view, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &count))
    return lines;
  constexpr int TextChars = 4096;
  const SIZE_T size = sizeof(LVITEMW) + TextChars * sizeof(wchar_t);
  auto* remote = static_cast<char*>(
      VirtualAllocEx(FProcess.hProcess, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!remote) return lines;
  auto* remoteText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
  std::vector<wchar_t> text(TextChars);
  for (DWORD_PTR row = 0; row < count; ++row) {
    LVITEMW item{};
    item.pszText = remoteText;
    item.cchTextMax = TextChars;
    DWORD_PTR copied = 0;
    if (!WriteProcessMemory(FProcess.hProcess, remote, &item, sizeof item, nullptr) ||
        !SendMessageTimeoutW(view, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote),
                             SMTO_ABORTIFHUNG, SendTimeoutMs, &copied) ||
        !ReadProcessMemory(FProcess.hProcess, remoteText, text.data(),
                           (copied + 1) * sizeof(wchar_t), nullptr)) {
      break;
    }
    lines.emplace_back(text.data(), copied);
  }
  VirtualFreeEx(FProcess.hProcess, remote, 0, MEM_RELEASE);
  return lines;
}

std::wstring TRunningApp::LogText() const {
  std::wstring all;
  for (const auto& line : LogLines()) {
    if (!all.empty()) all += L"\r\n";
    all += line;
  }
  return all;
}

void TRunningApp::JoinClick() {
  if (FClickThread.joinable()) FClickThread.join();
}

std::map<std::string, std::string> TRunningApp::ReadIni() const {
  std::map<std::string, std::string> values;
  std::istringstream in(IniBytes());
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

std::string TRunningApp::IniBytes() const {
  return FileBytes(IniPath());
}

std::string FileBytes(const std::wstring& Path) {
  HANDLE file = CreateFileW(Path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(file, buf, sizeof buf, &n, nullptr) && n > 0) bytes.append(buf, n);
  CloseHandle(file);
  return bytes;
}

double TRunningApp::Close() {
  auto start = std::chrono::steady_clock::now();
  PostMessageW(FWindow, WM_CLOSE, 0, 0);
  WaitForSingleObject(FProcess.hProcess, 60000);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

DWORD TRunningApp::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(FProcess.hProcess, &code);
  return code;
}

bool TRunningApp::Running() const {
  return FProcess.hProcess && WaitForSingleObject(FProcess.hProcess, 0) == WAIT_TIMEOUT;
}

bool TrayIconExists(HWND Window, UINT Id) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = Window;
  data.uID = Id;
  data.uFlags = 0;  // changes nothing; succeeds only for an icon that exists
  return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

namespace {

template <typename T>
struct TComRelease {
  T* P = nullptr;
  ~TComRelease() {
    if (P) P->Release();
  }
  T** operator&() { return &P; }
  T* operator->() { return P; }
};

}  // namespace

bool SaveWindowPng(HWND Window, const std::wstring& Path) {
  // Other programs' windows may be open on the shared desktop: keep this one on top meanwhile.
  SetForegroundWindow(Window);
  SetWindowPos(Window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  RedrawWindow(Window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(300);
  RECT r;
  GetWindowRect(Window, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  SetWindowPos(Window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  bool ok = false;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    TComRelease<IWICImagingFactory> factory;
    TComRelease<IWICBitmap> source;
    TComRelease<IWICStream> stream;
    TComRelease<IWICBitmapEncoder> encoder;
    TComRelease<IWICBitmapFrameEncode> frame;
    ok = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
         SUCCEEDED(
             factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, &source)) &&
         SUCCEEDED(factory->CreateStream(&stream)) &&
         SUCCEEDED(stream->InitializeFromFilename(Path.c_str(), GENERIC_WRITE)) &&
         SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
         SUCCEEDED(encoder->Initialize(stream.P, WICBitmapEncoderNoCache)) &&
         SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) &&
         SUCCEEDED(frame->Initialize(nullptr)) &&
         SUCCEEDED(frame->WriteSource(source.P, nullptr)) && SUCCEEDED(frame->Commit()) &&
         SUCCEEDED(encoder->Commit());
  }
  CoUninitialize();
  DeleteObject(bitmap);
  return ok;
}
