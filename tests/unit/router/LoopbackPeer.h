// The SCADA side of a test link: listens on 127.0.0.1, accepts connections one after another and
// collects every byte received, so tests can compare exact line bytes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TLinkClient;

class TLoopbackPeer {
 public:
  TLoopbackPeer();
  ~TLoopbackPeer();
  TLoopbackPeer(const TLoopbackPeer&) = delete;
  TLoopbackPeer& operator=(const TLoopbackPeer&) = delete;

  uint16_t Port() const { return ListenPort; }
  // Waits until at least Count complete lines (CR LF) arrived; returns all complete lines so far,
  // each with its CR LF.
  std::vector<std::string> WaitForLines(
      size_t Count, std::chrono::milliseconds Timeout = std::chrono::seconds(20));
  // All bytes received so far.
  std::string Received();
  void ClearReceived();

 private:
  void Run();

  intptr_t Listener = -1;
  uint16_t ListenPort = 0;
  std::mutex Lock;
  std::condition_variable Arrived;
  std::string Bytes;
  bool Stopping = false;
  std::thread Thread;
};

// A connected link client pointed at Peer.
std::shared_ptr<TLinkClient> ConnectTo(const TLoopbackPeer& Peer);
