// The log view: a list with one row per line of the log, drawn from the log's own lines (the
// list holds no copy of them). New entries only mark the view as changed; a timer brings the
// rows up to date at most every RefreshMs, so the cost of an entry does not depend on painting
// and the cost of a refresh depends on the rows in sight. After each refresh the last line is in
// sight. Selected lines can be copied (Ctrl+C, or "Copy" / "Copy all" in its context menu);
// a line too long for its row shows whole in the row's tooltip.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "Logger.h"

class TLogView final : public TLogObserver {
 public:
  static constexpr UINT RefreshMs = 50;
  // Menu and command identifiers of the view (WM_COMMAND sent to the view runs them too).
  static constexpr UINT CopyCommand = 1;
  static constexpr UINT CopyAllCommand = 2;

  // Creates the list as a child of Parent with the given control identifier. Until a log is
  // attached and shown, its one row reads Placeholder.
  TLogView(HWND Parent, int Id, HINSTANCE Instance, std::wstring Placeholder);
  ~TLogView();
  TLogView(const TLogView&) = delete;
  TLogView& operator=(const TLogView&) = delete;

  HWND Handle() const { return FHandle; }

  // Window thread. The log whose lines the rows show from its first change on (null: none any
  // more).
  void SetSource(const TLogger* Source) override;
  // Window thread. The log changed: a refresh follows within RefreshMs.
  void Changed() override;
  // The parent's WM_NOTIFY coming from this view; true when handled, with its result.
  bool Notify(const NMHDR* Header, LRESULT& Result);

  // The selected lines, or all of them, joined by CR LF.
  std::u16string SelectedText() const;
  std::u16string AllText() const;

 private:
  static LRESULT CALLBACK SubclassProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam,
                                       UINT_PTR Id, DWORD_PTR Self);
  bool HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam);
  void Refresh();
  void FollowSelection(std::uint64_t Shift);
  void WidenColumn();
  void RunCommand(UINT Command);
  void ShowContextMenu(LPARAM ScreenPoint);
  void CopyToClipboard(const std::u16string& Text);
  std::u16string RowText(int Row) const;

  HWND FHandle = nullptr;
  std::wstring FPlaceholder;
  bool FShowsPlaceholder = true;
  const TLogger* FSource = nullptr;
  bool FRefreshPending = false;
  // The rows as of the last refresh: row 0 is the log line numbered FFirst.
  std::uint64_t FFirst = 0;
  std::size_t FCount = 0;
  // Lines up to this number have been measured for the column's width.
  std::uint64_t FMeasuredEnd = 0;
  int FWidestLine = 0;  // since the log was last empty
  int FColumnWidth = 0;
};
