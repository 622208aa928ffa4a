#include "LogFile.h"

#include <chrono>
#include <ctime>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

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
  const auto Ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Now.time_since_epoch()) % 1000;
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

// Renames From to To, replacing To, in one step: the older file is never deleted first.
bool MoveReplacing(const std::filesystem::path& From, const std::filesystem::path& To) {
#ifdef _WIN32
  return MoveFileExW(From.c_str(), To.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  std::error_code Error;
  std::filesystem::rename(From, To, Error);
  return !Error;
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
  const unsigned Pending = FFailures & ~FReported;
  const std::u16string Name = FPath.u16string();
  for (unsigned Kind : {OpenFailed, RotateFailed, WriteFailed}) {
    if (!(Pending & Kind)) continue;
    FReported |= Kind;
    if (Kind == OpenFailed) return u"Cannot write the log file " + Name;
    if (Kind == RotateFailed)
      return u"Cannot rename the log file " + Name +
             u" to .1 (another program may hold it open): it is started anew at its bound";
    return u"Cannot write the log file " + Name + u": the disk may be full";
  }
  return std::nullopt;
}

void TLogFile::Fail(TFailure Kind) {
  std::lock_guard<std::mutex> Guard(FLock);
  FFailures |= Kind;
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
    Flush();
    if (Stopping) {
      std::lock_guard<std::mutex> Guard(FLock);
      if (FQueue.empty()) return;
    }
  }
}

void TLogFile::Write(const std::string& Text) {
  if (!FFile) {
    // A file that could not be opened is tried again only after a pause, not once per entry.
    if (std::chrono::steady_clock::now() < FRetryAt || !Open("a")) {
      ++FLost;
      return;
    }
    if (FLost > 0) {
      Write(Stamp() + std::to_string(FLost) +
            " log entries dropped: the file could not be opened\r\n");
      FLost = 0;
    }
  }
  if (FSize > 0 && FSize + Text.size() > FMaxBytes) Rotate();
  if (!FFile) {
    ++FLost;
    return;
  }
  if (std::fwrite(Text.data(), 1, Text.size(), FFile.get()) == Text.size())
    FSize += Text.size();
  else
    Fail(WriteFailed);
}

void TLogFile::Flush() {
  if (FFile && std::fflush(FFile.get()) != 0) Fail(WriteFailed);
}

bool TLogFile::Open(const char* Mode) {
  FFile.reset(OpenFile(FPath, Mode));
  if (!FFile) {
    FRetryAt = std::chrono::steady_clock::now() + RetryPause;
    Fail(OpenFailed);
    return false;
  }
  std::error_code Error;
  const auto Size = std::filesystem::file_size(FPath, Error);
  FSize = Error ? 0 : Size;
  return true;
}

// The file becomes the ".1" file, replacing an older one in the same step, and a new file
// starts. When the rename fails, the older ".1" is kept and the file itself starts anew, so
// that it stays within its bound; the failure is reported once, not at every entry.
void TLogFile::Rotate() {
  if (FFile && std::fflush(FFile.get()) != 0) Fail(WriteFailed);
  FFile.reset();
  std::filesystem::path Old = FPath;
  Old += ".1";
  if (MoveReplacing(FPath, Old)) {
    Open("w");
    return;
  }
  Fail(RotateFailed);
  if (Open("w"))
    Write(Stamp() + "The log file could not be renamed to its .1 file and was started anew\r\n");
}
