#include "LogView.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "Logger.h"

namespace {

constexpr UINT_PTR SubclassId = 1;
constexpr UINT_PTR RefreshTimer = 1;
constexpr int TextMargin = 12;  // room the list keeps around a row's text, in pixels

// Copies Text into a list's text buffer, cut to its capacity.
void CopyText(const std::u16string& Text, LPWSTR Buffer, int Capacity) {
  if (!Buffer || Capacity <= 0) return;
  std::size_t n = std::min(Text.size(), static_cast<std::size_t>(Capacity - 1));
  std::memcpy(Buffer, Text.data(), n * sizeof(wchar_t));
  Buffer[n] = L'\0';
}

// A global memory block handed to the clipboard, freed unless the clipboard took it.
class TClipboardText {
 public:
  explicit TClipboardText(const std::u16string& Text)
      : FMemory(GlobalAlloc(GMEM_MOVEABLE, (Text.size() + 1) * sizeof(char16_t))) {
    if (!FMemory) return;
    auto* target = static_cast<char16_t*>(GlobalLock(FMemory));
    std::memcpy(target, Text.c_str(), (Text.size() + 1) * sizeof(char16_t));
    GlobalUnlock(FMemory);
  }
  ~TClipboardText() {
    if (FMemory) GlobalFree(FMemory);
  }
  TClipboardText(const TClipboardText&) = delete;
  TClipboardText& operator=(const TClipboardText&) = delete;
  // Hands the block to the open clipboard.
  bool Give() {
    if (!FMemory || !SetClipboardData(CF_UNICODETEXT, FMemory)) return false;
    FMemory = nullptr;
    return true;
  }

 private:
  HGLOBAL FMemory;
};

}  // namespace

TLogView::TLogView(HWND Parent, int Id, HINSTANCE Instance, std::wstring Placeholder)
    : FPlaceholder(std::move(Placeholder)) {
  FHandle = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA |
                                LVS_NOCOLUMNHEADER | LVS_SHOWSELALWAYS,
                            0, 0, 0, 0, Parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)),
                            Instance, nullptr);
  if (!FHandle) return;
  ListView_SetExtendedListViewStyle(FHandle,
                                    LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = 0;
  ListView_InsertColumn(FHandle, 0, &column);
  SetWindowSubclass(FHandle, SubclassProc, SubclassId, reinterpret_cast<DWORD_PTR>(this));
  ListView_SetItemCountEx(FHandle, 1, LVSICF_NOSCROLL);
}

TLogView::~TLogView() {
  if (FHandle && IsWindow(FHandle)) {
    KillTimer(FHandle, RefreshTimer);
    RemoveWindowSubclass(FHandle, SubclassProc, SubclassId);
  }
}

void TLogView::SetSource(const TLogger* Source) {
  FSource = Source;
}

void TLogView::Changed() {
  if (FRefreshPending || !FHandle) return;
  FRefreshPending = SetTimer(FHandle, RefreshTimer, RefreshMs, nullptr) != 0;
}

LRESULT CALLBACK TLogView::SubclassProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam,
                                        UINT_PTR, DWORD_PTR Self) {
  if (Msg == WM_NCDESTROY) {
    RemoveWindowSubclass(Wnd, SubclassProc, SubclassId);
    reinterpret_cast<TLogView*>(Self)->FHandle = nullptr;
  } else if (reinterpret_cast<TLogView*>(Self)->HandleMessage(Msg, WParam, LParam)) {
    return 0;
  }
  return DefSubclassProc(Wnd, Msg, WParam, LParam);
}

bool TLogView::HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
  switch (Msg) {
    case WM_TIMER:
      if (WParam != RefreshTimer) return false;
      KillTimer(FHandle, RefreshTimer);
      FRefreshPending = false;
      Refresh();
      return true;
    case WM_KEYDOWN:
      if (GetKeyState(VK_CONTROL) >= 0) return false;
      if (WParam == 'C') {
        RunCommand(CopyCommand);
        return true;
      }
      if (WParam == 'A') {
        ListView_SetItemState(FHandle, -1, LVIS_SELECTED, LVIS_SELECTED);
        return true;
      }
      return false;
    case WM_COPY:
      RunCommand(CopyCommand);
      return true;
    case WM_COMMAND:
      RunCommand(LOWORD(WParam));
      return true;
    case WM_CONTEXTMENU:
      ShowContextMenu(LParam);
      return true;
    case WM_SIZE:
      Changed();
      return false;
    default:
      return false;
  }
}

bool TLogView::Notify(const NMHDR* Header, LRESULT& Result) {
  if (Header->hwndFrom != FHandle) return false;
  Result = 0;
  switch (Header->code) {
    case LVN_GETDISPINFOW: {
      auto* info = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(Header));
      if (info->item.mask & LVIF_TEXT)
        CopyText(RowText(info->item.iItem), info->item.pszText, info->item.cchTextMax);
      return true;
    }
    case LVN_GETINFOTIPW: {
      auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(const_cast<NMHDR*>(Header));
      CopyText(RowText(tip->iItem), tip->pszText, tip->cchTextMax);
      return true;
    }
    default:
      return false;
  }
}

std::u16string TLogView::RowText(int Row) const {
  if (FShowsPlaceholder) {
    return Row == 0 ? std::u16string(FPlaceholder.begin(), FPlaceholder.end()) : u"";
  }
  std::u16string text;
  if (Row >= 0 && FSource) FSource->LineText(FFirst + static_cast<std::uint64_t>(Row), text);
  return text;
}

// Brings the rows up to the log: their number, the selection moved with its lines, the width of
// the longest line, and the last line in sight.
void TLogView::Refresh() {
  if (!FSource || !FHandle) return;
  const TLogger::TRange range = FSource->Range();
  if (FShowsPlaceholder) {
    FShowsPlaceholder = false;
    FFirst = FMeasuredEnd = range.First;
  }
  FollowSelection(range.First - FFirst);
  FFirst = range.First;
  FCount = range.Count;
  WidenColumn();
  ListView_SetItemCountEx(FHandle, static_cast<int>(FCount),
                          LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
  InvalidateRect(FHandle, nullptr, FALSE);
  if (FCount > 0) ListView_EnsureVisible(FHandle, static_cast<int>(FCount) - 1, FALSE);
}

// Rows keep their numbers while the lines under them move up as old lines are dropped; the
// selection follows its lines, and lines that were dropped leave it.
void TLogView::FollowSelection(std::uint64_t Shift) {
  if (Shift == 0 || ListView_GetSelectedCount(FHandle) == 0) return;
  std::vector<int> selected;
  for (int row = ListView_GetNextItem(FHandle, -1, LVNI_SELECTED); row != -1;
       row = ListView_GetNextItem(FHandle, row, LVNI_SELECTED)) {
    selected.push_back(row);
  }
  ListView_SetItemState(FHandle, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  for (int row : selected) {
    if (static_cast<std::uint64_t>(row) >= Shift)
      ListView_SetItemState(FHandle, row - static_cast<int>(Shift), LVIS_SELECTED, LVIS_SELECTED);
  }
}

// The column grows to the widest line measured so far, and is never narrower than the list, so
// that a long line is reached by scrolling sideways. Only lines new since the last refresh are
// measured, at most the lines kept.
void TLogView::WidenColumn() {
  if (FCount == 0) FWidestLine = 0;
  const std::uint64_t end = FFirst + FCount;
  HDC dc = GetDC(FHandle);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(FHandle, WM_GETFONT, 0, 0)));
  std::u16string line;
  for (std::uint64_t n = std::max(FMeasuredEnd, FFirst); n < end; ++n) {
    if (!FSource->LineText(n, line)) continue;
    SIZE extent{};
    GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(line.c_str()),
                          static_cast<int>(std::min<std::size_t>(line.size(), 1024)), &extent);
    FWidestLine = std::max(FWidestLine, static_cast<int>(extent.cx) + TextMargin);
  }
  SelectObject(dc, old);
  ReleaseDC(FHandle, dc);
  FMeasuredEnd = end;
  RECT client;
  GetClientRect(FHandle, &client);
  const int width = std::max(FWidestLine, static_cast<int>(client.right));
  if (width != FColumnWidth) {
    FColumnWidth = width;
    ListView_SetColumnWidth(FHandle, 0, width);
  }
}

std::u16string TLogView::SelectedText() const {
  std::u16string text;
  bool first = true;
  for (int row = ListView_GetNextItem(FHandle, -1, LVNI_SELECTED); row != -1;
       row = ListView_GetNextItem(FHandle, row, LVNI_SELECTED)) {
    if (!first) text += u"\r\n";
    text += RowText(row);
    first = false;
  }
  return text;
}

std::u16string TLogView::AllText() const {
  std::u16string text;
  for (std::size_t row = 0; row < FCount; ++row) {
    if (row > 0) text += u"\r\n";
    text += RowText(static_cast<int>(row));
  }
  return text;
}

void TLogView::RunCommand(UINT Command) {
  if (Command == CopyCommand && ListView_GetSelectedCount(FHandle) > 0)
    CopyToClipboard(SelectedText());
  else if (Command == CopyAllCommand)
    CopyToClipboard(AllText());
}

void TLogView::ShowContextMenu(LPARAM ScreenPoint) {
  POINT at{GET_X_LPARAM(ScreenPoint), GET_Y_LPARAM(ScreenPoint)};
  if (ScreenPoint == -1) {  // from the keyboard: at the view's top left corner
    at = {0, 0};
    ClientToScreen(FHandle, &at);
  }
  std::unique_ptr<std::remove_pointer_t<HMENU>, decltype(&DestroyMenu)> menu(CreatePopupMenu(),
                                                                             &DestroyMenu);
  if (!menu) return;
  const UINT copyFlags = MF_STRING | (ListView_GetSelectedCount(FHandle) > 0 ? 0 : MF_GRAYED);
  AppendMenuW(menu.get(), copyFlags, CopyCommand, L"Copy\tCtrl+C");
  AppendMenuW(menu.get(), MF_STRING, CopyAllCommand, L"Copy all");
  // The menu's loop reads its keys from this thread's queue. The parent is told of it as of its
  // own menus, so that its log hand-over leaves that input alone meanwhile.
  const HWND parent = GetParent(FHandle);
  SendMessageW(parent, WM_ENTERMENULOOP, TRUE, 0);
  UINT chosen = static_cast<UINT>(TrackPopupMenu(menu.get(),
                                                 TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                                 at.x, at.y, 0, FHandle, nullptr));
  SendMessageW(parent, WM_EXITMENULOOP, TRUE, 0);
  if (chosen != 0) RunCommand(chosen);
}

void TLogView::CopyToClipboard(const std::u16string& Text) {
  TClipboardText block(Text);
  if (!OpenClipboard(FHandle)) return;
  EmptyClipboard();
  block.Give();
  CloseClipboard();
}
