#include "ScadaListener.h"

#include <ws2tcpip.h>

TScadaListener::TScadaListener() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  FListener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(FListener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(FListener, 8);
  int len = sizeof addr;
  getsockname(FListener, reinterpret_cast<sockaddr*>(&addr), &len);
  FPort = ntohs(addr.sin_port);
  FAcceptor = std::thread([this] { AcceptLoop(); });
}

TScadaListener::~TScadaListener() {
  // Closing a socket ends a call blocked on it.
  closesocket(FListener);
  FAcceptor.join();
  {
    std::lock_guard<std::mutex> lock(FLock);
    for (SOCKET s : FClients) {
      shutdown(s, SD_BOTH);
      closesocket(s);
    }
  }
  for (auto& t : FReaders) t.join();
  WSACleanup();
}

void TScadaListener::AcceptLoop() {
  for (;;) {
    SOCKET client = accept(FListener, nullptr, nullptr);
    if (client == INVALID_SOCKET) return;
    std::lock_guard<std::mutex> lock(FLock);
    FClients.push_back(client);
    FReaders.emplace_back([this, client] { ReadLoop(client); });
  }
}

void TScadaListener::ReadLoop(SOCKET Client) {
  std::string pending;
  char buf[4096];
  for (;;) {
    int n = recv(Client, buf, sizeof buf, 0);
    if (n <= 0) return;
    pending.append(buf, n);
    size_t lf;
    while ((lf = pending.find('\n')) != std::string::npos) {
      std::lock_guard<std::mutex> lock(FLock);
      FLines.push_back(pending.substr(0, lf));
      pending.erase(0, lf + 1);
    }
  }
}

std::vector<std::string> TScadaListener::Lines() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FLines;
}

bool TScadaListener::HasLineContaining(const std::string& Text) const {
  std::lock_guard<std::mutex> lock(FLock);
  for (const auto& line : FLines) {
    if (line.find(Text) != std::string::npos) return true;
  }
  return false;
}

void TScadaListener::SendToAll(const std::string& Text) {
  std::lock_guard<std::mutex> lock(FLock);
  for (SOCKET s : FClients) send(s, Text.data(), static_cast<int>(Text.size()), 0);
}

std::size_t TScadaListener::Accepted() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FClients.size();
}
