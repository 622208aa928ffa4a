// A listener on 127.0.0.1 whose accept queue is full and is never drained: the system drops
// every further connection request, so a connect to it neither succeeds nor fails until the
// system's own connect time-out.
#pragma once

#include <cstdint>
#include <vector>

#include "SocketApi.h"

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

class THangingListener {
 public:
  // Full at once, or, with FillNow false, once Fill is called.
  explicit THangingListener(bool FillNow = true) {
    StartSockets();
    Listener = TSocket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in Addr{};
    Addr.sin_family = AF_INET;
    Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
#ifdef _WIN32
    int Length = sizeof Addr;
#else
    socklen_t Length = sizeof Addr;
#endif
    if (bind(Listener.Handle(), reinterpret_cast<const sockaddr*>(&Addr), sizeof Addr) != 0 ||
        listen(Listener.Handle(), 0) != 0 ||
        getsockname(Listener.Handle(), reinterpret_cast<sockaddr*>(&Addr), &Length) != 0)
      return;
    FPort = ntohs(Addr.sin_port);
    if (FillNow) Fill();
  }

  uint16_t Port() const { return FPort; }
  // True once a connection request to it has been seen to hang.
  bool Full() const { return FFull; }

  // Accepts one connection within TimeoutMs and keeps it open; false if none came.
  bool AcceptOne(int32_t TimeoutMs) {
    TWakeSocket NeverSignalled;
    if (WaitSocket(Listener, false, NeverSignalled, TimeoutMs) != TWaitResult::Ready) return false;
    TSocket Accepted(accept(Listener.Handle(), nullptr, nullptr));
    if (!Accepted.Valid()) return false;
    Fillers.push_back(std::move(Accepted));
    return true;
  }

  // Connects until one connection request stays unanswered; a bounded number of tries.
  void Fill() {
    TWakeSocket NeverSignalled;
    for (int Try = 0; Try < 16 && !FFull; ++Try) {
      TSocket Filler = CreateTcpSocket();
      SetNonBlocking(Filler);
      sockaddr_in Addr{};
      Addr.sin_family = AF_INET;
      Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      Addr.sin_port = htons(FPort);
      connect(Filler.Handle(), reinterpret_cast<const sockaddr*>(&Addr), sizeof Addr);
      FFull = WaitSocket(Filler, true, NeverSignalled, 500) == TWaitResult::TimedOut;
      Fillers.push_back(std::move(Filler));
    }
  }

  TSocket Listener;
  uint16_t FPort = 0;
  bool FFull = false;
  std::vector<TSocket> Fillers;
};
