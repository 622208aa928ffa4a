// The SCADA side of the link for tests: a plain TCP listener on 127.0.0.1 and its accepted
// connections, with bounded waits only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
using TTestSocket = SOCKET;
#else
using TTestSocket = int;
#endif

class TServerPeer {
 public:
  explicit TServerPeer(TTestSocket Socket);
  ~TServerPeer();
  TServerPeer(const TServerPeer&) = delete;
  TServerPeer& operator=(const TServerPeer&) = delete;

  // The next line without its CR LF; false when none arrives within TimeoutMs or the agent closed.
  bool ReadLine(std::string& Line, int TimeoutMs);
  // True when the agent closes the connection within TimeoutMs (bytes still arriving are dropped).
  bool WaitClosed(int TimeoutMs);
  void Send(const std::string& Bytes);
  void Close();

 private:
  // Waits for readable data and receives it; false on time-out or close.
  bool Receive(int TimeoutMs);

  TTestSocket Socket;
  std::string Buffer;
  bool PeerClosed = false;
};

class TLoopbackServer {
 public:
  // Listens on 127.0.0.1 at Port, or at a free port when Port is 0.
  explicit TLoopbackServer(uint16_t Port = 0);
  ~TLoopbackServer();
  TLoopbackServer(const TLoopbackServer&) = delete;
  TLoopbackServer& operator=(const TLoopbackServer&) = delete;

  uint16_t Port() const { return FPort; }
  // Closes the listening socket: new connections are refused; accepted ones stay.
  void StopListening();
  // The next connection within TimeoutMs, or none.
  std::unique_ptr<TServerPeer> Accept(int TimeoutMs);

  // A port on 127.0.0.1 where nothing listens.
  static uint16_t UnusedPort();

 private:
  uint16_t FPort = 0;  // before Listener, which sets it
  TTestSocket Listener;
};
