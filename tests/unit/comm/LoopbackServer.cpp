#include "LoopbackServer.h"

#include <stdexcept>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {
#ifdef _WIN32
constexpr TTestSocket NoSocket = INVALID_SOCKET;
void CloseSocket(TTestSocket S) {
  closesocket(S);
}
int PollOne(TTestSocket S, int TimeoutMs) {
  WSAPOLLFD P{S, POLLRDNORM, 0};
  return WSAPoll(&P, 1, TimeoutMs);
}
struct TWinsock {
  TWinsock() {
    WSADATA Data;
    WSAStartup(MAKEWORD(2, 2), &Data);
  }
};
void StartWinsock() {
  static TWinsock Once;
}
#else
constexpr TTestSocket NoSocket = -1;
void CloseSocket(TTestSocket S) {
  close(S);
}
int PollOne(TTestSocket S, int TimeoutMs) {
  pollfd P{S, POLLIN, 0};
  return poll(&P, 1, TimeoutMs);
}
void StartWinsock() {}
#endif

TTestSocket ListenOn(uint16_t Port, uint16_t& Bound) {
  StartWinsock();
  TTestSocket S = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (S == NoSocket) throw std::runtime_error("socket");
#ifndef _WIN32
  int On = 1;  // rebinding a port whose old connections linger in TIME_WAIT
  setsockopt(S, SOL_SOCKET, SO_REUSEADDR, &On, sizeof On);
#endif
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(Port);
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(S, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 || listen(S, 8) != 0) {
    CloseSocket(S);
    throw std::runtime_error("bind/listen");
  }
  socklen_t Len = sizeof A;
  getsockname(S, reinterpret_cast<sockaddr*>(&A), &Len);
  Bound = ntohs(A.sin_port);
  return S;
}
}  // namespace

TServerPeer::TServerPeer(TTestSocket Socket) : Socket(Socket) {}

TServerPeer::~TServerPeer() {
  Close();
}

bool TServerPeer::Receive(int TimeoutMs) {
  if (PeerClosed || PollOne(Socket, TimeoutMs) <= 0) return false;
  char Chunk[4096];
  int N = recv(Socket, Chunk, sizeof Chunk, 0);
  if (N <= 0) {
    PeerClosed = true;
    return false;
  }
  Buffer.append(Chunk, N);
  return true;
}

bool TServerPeer::ReadLine(std::string& Line, int TimeoutMs) {
  for (;;) {
    auto Lf = Buffer.find('\n');
    if (Lf != std::string::npos) {
      Line = Buffer.substr(0, Lf);
      if (!Line.empty() && Line.back() == '\r') Line.pop_back();
      Buffer.erase(0, Lf + 1);
      return true;
    }
    if (!Receive(TimeoutMs)) return false;
  }
}

bool TServerPeer::WaitClosed(int TimeoutMs) {
  while (Receive(TimeoutMs)) Buffer.clear();
  return PeerClosed;
}

void TServerPeer::Send(const std::string& Bytes) {
  send(Socket, Bytes.data(), static_cast<int>(Bytes.size()), 0);
}

void TServerPeer::Close() {
  if (Socket == NoSocket) return;
  CloseSocket(Socket);
  Socket = NoSocket;
}

TLoopbackServer::TLoopbackServer(uint16_t Port) : Listener(ListenOn(Port, FPort)) {}

TLoopbackServer::~TLoopbackServer() {
  StopListening();
}

void TLoopbackServer::StopListening() {
  if (Listener == NoSocket) return;
  CloseSocket(Listener);
  Listener = NoSocket;
}

std::unique_ptr<TServerPeer> TLoopbackServer::Accept(int TimeoutMs) {
  if (Listener == NoSocket || PollOne(Listener, TimeoutMs) <= 0) return nullptr;
  TTestSocket S = accept(Listener, nullptr, nullptr);
  if (S == NoSocket) return nullptr;
  return std::make_unique<TServerPeer>(S);
}

uint16_t TLoopbackServer::UnusedPort() {
  uint16_t Port;
  CloseSocket(ListenOn(0, Port));
  return Port;
}
