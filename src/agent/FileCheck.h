// What a host's check of the files the agent is about to use found.
#pragma once

#include <string>
#include <vector>

struct TFileCheck {
  std::vector<std::u16string> Notes;  // what was mended, for the log
  std::u16string Problem;             // empty: the files may be used
  bool DataFolderSafe = true;         // the default file log may be written
};
