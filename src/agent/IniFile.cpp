#include "IniFile.h"

#include <windows.h>

#include <vector>

namespace {

// Values are read up to this many characters.
constexpr DWORD MaxValueLength = 2047;

std::wstring W(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

}  // namespace

TIniFile::TIniFile(std::u16string FileName, std::u16string Section)
    : FFileName(std::move(FileName)), FSection(std::move(Section)) {}

std::u16string TIniFile::ReadString(std::u16string_view Key, std::u16string_view Default) {
  std::vector<wchar_t> buffer(MaxValueLength + 1);
  DWORD n = GetPrivateProfileStringW(W(FSection).c_str(), W(Key).c_str(), W(Default).c_str(),
                                     buffer.data(), static_cast<DWORD>(buffer.size()),
                                     W(FFileName).c_str());
  return std::u16string(buffer.begin(), buffer.begin() + n);
}

void TIniFile::WriteString(std::u16string_view Key, std::u16string_view Value) {
  if (!WritePrivateProfileStringW(W(FSection).c_str(), W(Key).c_str(), W(Value).c_str(),
                                  W(FFileName).c_str())) {
    throw EIniWriteError(u"Unable to write to " + FFileName);
  }
}

std::u16string ConfigFilePath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  std::u16string file(path.begin(), path.end());
  file.erase(file.find_last_of(u"\\/") + 1);
  return file + IniFileName;
}
