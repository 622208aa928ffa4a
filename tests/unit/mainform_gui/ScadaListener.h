// A SCADA-side server on 127.0.0.1 for the window tests: accepts every connection and collects the
// lines each one sends.
#pragma once

#include <winsock2.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TScadaListener {
 public:
  TScadaListener();
  ~TScadaListener();
  TScadaListener(const TScadaListener&) = delete;
  TScadaListener& operator=(const TScadaListener&) = delete;

  int Port() const { return FPort; }
  std::vector<std::string> Lines() const;
  bool HasLineContaining(const std::string& Text) const;
  // How many connections were accepted so far.
  std::size_t Accepted() const;
  // Sends Text on every connection accepted so far; connections already closed are skipped.
  void SendToAll(const std::string& Text);

 private:
  void AcceptLoop();
  void ReadLoop(SOCKET Client);

  SOCKET FListener = INVALID_SOCKET;
  int FPort = 0;
  mutable std::mutex FLock;
  std::vector<SOCKET> FClients;
  std::vector<std::string> FLines;
  std::vector<std::thread> FReaders;
  std::thread FAcceptor;
};
