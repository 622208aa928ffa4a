// The "Start with Windows" switch: the current user's Run entry for this program.
#pragma once

#include <string>

class TAutoStart {
 public:
  // Name: the entry's name under HKCU\Software\Microsoft\Windows\CurrentVersion\Run.
  explicit TAutoStart(std::wstring Name) : FName(std::move(Name)) {}

  // Whether the entry exists.
  bool Enabled() const;
  // Writes the entry (the running executable's path, quoted) or removes it; false on failure.
  bool Set(bool Enable) const;

 private:
  std::wstring FName;
};
