// What the agent's tests share: a configuration file in memory, a scratch folder, file reading.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "Agent.h"
#include "AppConfig.h"

// One section in memory; a write fails while ReadOnly is set.
struct TMemoryIni {
  std::map<std::u16string, std::u16string> Values;
  bool ReadOnly = false;
  int Writes = 0;
};

class TMemoryIniStore : public TIniStore {
 public:
  explicit TMemoryIniStore(std::shared_ptr<TMemoryIni> Ini) : FIni(std::move(Ini)) {}
  std::u16string ReadString(std::u16string_view Key, std::u16string_view Default) override {
    auto It = FIni->Values.find(std::u16string(Key));
    return It == FIni->Values.end() ? std::u16string(Default) : It->second;
  }
  void WriteString(std::u16string_view Key, std::u16string_view Value) override {
    if (FIni->ReadOnly) throw EIniWriteError(u"Unable to write");
    ++FIni->Writes;
    FIni->Values[std::u16string(Key)] = std::u16string(Value);
  }

 private:
  std::shared_ptr<TMemoryIni> FIni;
};

// A folder of the test's own under the system's temporary folder, removed at the end.
class TScratchFolder {
 public:
  explicit TScratchFolder(const std::string& Name)
      : FPath(std::filesystem::temp_directory_path() / ("tg_agent_" + Name)) {
    std::filesystem::remove_all(FPath);
    std::filesystem::create_directories(FPath);
  }
  ~TScratchFolder() {
    std::error_code Ignored;
    std::filesystem::remove_all(FPath, Ignored);
  }
  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
};

inline std::string ReadFileText(const std::filesystem::path& File) {
  std::ifstream In(File, std::ios::binary);
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

inline TAgentOptions MemoryOptions(std::shared_ptr<TMemoryIni> Ini, TAgentPaths Paths) {
  TAgentOptions Options;
  Options.Paths = std::move(Paths);
  Options.OpenIni = [Ini](const std::filesystem::path&) {
    return std::make_unique<TMemoryIniStore>(Ini);
  };
  Options.NextRandom = [] { return 0.123456789012345; };
  return Options;
}
