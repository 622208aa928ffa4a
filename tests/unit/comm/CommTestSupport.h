// Helpers of the link tests: log inspection and bounded waits.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackServer.h"  // Winsock before windows.h
#include "Logger.h"
#include "TextEncoding.h"

inline std::vector<std::string> LogLines(const TLogger& Log) {
  std::vector<std::string> Out;
  for (const auto& Line : Log.Lines()) Out.push_back(EncodeUtf8(Line));
  return Out;
}

// Index of the first line equal to Text at or after From; -1 when there is none.
inline int LineIndex(const std::vector<std::string>& Lines, const std::string& Text, int From = 0) {
  for (int I = From; I < static_cast<int>(Lines.size()); ++I)
    if (Lines[I] == Text) return I;
  return -1;
}

inline int LineCount(const std::vector<std::string>& Lines, const std::string& Text) {
  int N = 0;
  for (const auto& Line : Lines) N += Line == Text;
  return N;
}

// Polls Condition every 20 ms for at most TimeoutMs.
inline bool WaitUntil(const std::function<bool()>& Condition, int TimeoutMs) {
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (!Condition()) {
    if (std::chrono::steady_clock::now() > Deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

inline bool WaitLogCount(const TLogger& Log, const std::string& Text, int N, int TimeoutMs) {
  return WaitUntil([&] { return LineCount(LogLines(Log), Text) >= N; }, TimeoutMs);
}

// Accepts connections until one sends a line within 3 s (the agent's greeting); probe
// connections, which close without a word, are passed over.
inline std::unique_ptr<TServerPeer> AcceptLink(TLoopbackServer& Server, int TimeoutMs,
                                               std::string* FirstLine = nullptr) {
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (std::chrono::steady_clock::now() < Deadline) {
    auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    Deadline - std::chrono::steady_clock::now())
                    .count();
    auto Peer = Server.Accept(static_cast<int>(Left));
    if (!Peer) return nullptr;
    std::string Line;
    if (Peer->ReadLine(Line, 3000)) {
      if (FirstLine) *FirstLine = Line;
      return Peer;
    }
  }
  return nullptr;
}
