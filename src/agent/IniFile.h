// One section of an INI file through the system's profile functions.
#pragma once

#include <string>

#include "AppConfig.h"

class TIniFile : public TIniStore {
 public:
  TIniFile(std::u16string FileName, std::u16string Section);

  std::u16string ReadString(std::u16string_view Key, std::u16string_view Default) override;
  void WriteString(std::u16string_view Key, std::u16string_view Value) override;

  const std::u16string& FileName() const { return FFileName; }

 private:
  std::u16string FFileName;
  std::u16string FSection;
};

// The configuration file beside the running executable.
std::u16string ConfigFilePath();
