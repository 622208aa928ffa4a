#include "LogFile.h"

#include <chrono>
#include <ctime>
#include <system_error>

namespace {

std::string Utf8(const std::u16string& Text) {
  std::string Out;
  for (std::size_t I = 0; I < Text.size(); ++I) {
    uint32_t C = Text[I];
    if (C >= 0xD800 && C < 0xDC00 && I + 1 < Text.size() && Text[I + 1] >= 0xDC00 &&
        Text[I + 1] < 0xE000) {
      C = 0x10000 + ((C - 0xD800) << 10) + (Text[++I] - 0xDC00);
    } else if (C >= 0xD800 && C < 0xE000) {
      C = 0xFFFD;
    }
    if (C < 0x80) {
      Out += static_cast<char>(C);
    } else if (C < 0x800) {
      Out += static_cast<char>(0xC0 | (C >> 6));
      Out += static_cast<char>(0x80 | (C & 0x3F));
    } else if (C < 0x10000) {
      Out += static_cast<char>(0xE0 | (C >> 12));
      Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (C & 0x3F));
    } else {
      Out += static_cast<char>(0xF0 | (C >> 18));
      Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
      Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (C & 0x3F));
    }
  }
  return Out;
}

// "2026-12-10 17:45:01.123 "
std::string Stamp() {
  const auto Now = std::chrono::system_clock::now();
  const std::time_t T = std::chrono::system_clock::to_time_t(Now);
  const auto Ms = std::chrono::duration_cast<std::chrono::milliseconds>(Now.time_since_epoch()) %
                  1000;
  std::tm Local{};
#ifdef _WIN32
  localtime_s(&Local, &T);
#else
  localtime_r(&T, &Local);
#endif
  char Buffer[32];
  std::size_t N = std::strftime(Buffer, sizeof Buffer, "%Y-%m-%d %H:%M:%S", &Local);
  std::snprintf(Buffer + N, sizeof Buffer - N, ".%03d ", static_cast<int>(Ms.count()));
  return Buffer;
}

std::FILE* OpenFile(const std::filesystem::path& Path, const char* Mode) {
#ifdef _WIN32
  const wchar_t* WideMode = Mode[0] == 'a' ? L"ab" : L"wb";
  return _wfopen(Path.c_str(), WideMode);
#else
  return std::fopen(Path.c_str(), Mode[0] == 'a' ? "ab" : "wb");
#endif
}

}  // namespace

TLogFile::TLogFile(std::filesystem::path Path, uint64_t MaxBytes)
    : FPath(std::move(Path)), FMaxBytes(MaxBytes), FWriter([this] { Run(); }) {}

TLogFile::~TLogFile() {
  {
    std::lock_guard<std::mutex> Guard(FLock);
    FStopping = true;
  }
  FWake.notify_one();
  FWriter.join();
}

void TLogFile::Append(const std::vector<std::u16string>& Lines) {
  if (Lines.empty()) return;
  std::string Text;
  const std::string Prefix = Stamp();
  for (const auto& Line : Lines) Text += Prefix + Utf8(Line) + "\r\n";
  {
    std::lock_guard<std::mutex> Guard(FLock);
    if (FQueue.size() >= MaxQueued) {
      ++FDropped;
      return;
    }
    FQueue.push_back(std::move(Text));
  }
  FWake.notify_one();
}

std::optional<std::u16string> TLogFile::TakeFailure() {
  std::lock_guard<std::mutex> Guard(FLock);
  if (!FFailed || FFailureTaken) return std::nullopt;
  FFailureTaken = true;
  const std::u16string Name = FPath.u16string();
  return u"Cannot write the log file " + Name;
}

// Writes what is queued in batches until stopped, then what is left.
void TLogFile::Run() {
  std::vector<std::string> Batch;
  for (;;) {
    std::size_t Dropped;
    bool Stopping;
    {
      std::unique_lock<std::mutex> Guard(FLock);
      FWake.wait(Guard, [this] { return FStopping || !FQueue.empty(); });
      Batch.swap(FQueue);
      Dropped = FDropped;
      FDropped = 0;
      Stopping = FStopping;
    }
    if (Dropped > 0)
      Write(Stamp() + std::to_string(Dropped) + " log entries dropped: the file fell behind\r\n");
    for (const auto& Text : Batch) Write(Text);
    Batch.clear();
    if (FFile) std::fflush(FFile.get());
    if (Stopping) {
      std::lock_guard<std::mutex> Guard(FLock);
      if (FQueue.empty()) return;
    }
  }
}

void TLogFile::Write(const std::string& Text) {
  if (!FFile && !Open("a")) return;
  if (FSize > 0 && FSize + Text.size() > FMaxBytes) Rotate();
  if (!FFile) return;
  if (std::fwrite(Text.data(), 1, Text.size(), FFile.get()) == Text.size()) FSize += Text.size();
}

bool TLogFile::Open(const char* Mode) {
  FFile.reset(OpenFile(FPath, Mode));
  if (!FFile) {
    std::lock_guard<std::mutex> Guard(FLock);
    FFailed = true;
    return false;
  }
  std::error_code Error;
  const auto Size = std::filesystem::file_size(FPath, Error);
  FSize = Error ? 0 : Size;
  return true;
}

// The file becomes the ".1" file (replacing an older one) and a new file starts.
void TLogFile::Rotate() {
  FFile.reset();
  std::filesystem::path Old = FPath;
  Old += ".1";
  std::error_code Error;
  std::filesystem::remove(Old, Error);
  std::filesystem::rename(FPath, Old, Error);
  Open(Error ? "a" : "w");
}
