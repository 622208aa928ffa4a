#include "LoopbackPeer.h"

#include <algorithm>
#include <stdexcept>

#include "LinkClient.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using TSocketLen = int;
namespace {
void CloseSocket(intptr_t S) {
  closesocket(static_cast<SOCKET>(S));
}
int PollSockets(pollfd* Fds, size_t Count, int Ms) {
  return WSAPoll(Fds, static_cast<ULONG>(Count), Ms);
}
struct TWinsock {
  TWinsock() {
    WSADATA Data;
    WSAStartup(MAKEWORD(2, 2), &Data);
  }
};
}  // namespace
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using TSocketLen = socklen_t;
namespace {
void CloseSocket(intptr_t S) {
  close(static_cast<int>(S));
}
int PollSockets(pollfd* Fds, size_t Count, int Ms) {
  return poll(Fds, Count, Ms);
}
}  // namespace
#endif

TLoopbackPeer::TLoopbackPeer() {
#ifdef _WIN32
  static TWinsock Winsock;
#endif
  Listener = static_cast<intptr_t>(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  TSocketLen Len = sizeof(Address);
  if (bind(Listener, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) != 0 ||
      listen(Listener, 4) != 0 ||
      getsockname(Listener, reinterpret_cast<sockaddr*>(&Address), &Len) != 0)
    throw std::runtime_error("loopback listener failed");
  ListenPort = ntohs(Address.sin_port);
  Thread = std::thread([this] { Run(); });
}

TLoopbackPeer::~TLoopbackPeer() {
  {
    std::lock_guard Guard(Lock);
    Stopping = true;
  }
  Thread.join();
  CloseSocket(Listener);
}

// Polls with a short wait so that the destructor is noticed quickly.
void TLoopbackPeer::Run() {
  using TFd = decltype(pollfd::fd);
  std::vector<intptr_t> Connections;
  std::vector<char> Buffer(65536);
  while (true) {
    {
      std::lock_guard Guard(Lock);
      if (Stopping) break;
    }
    std::vector<pollfd> Polled{{static_cast<TFd>(Listener), POLLIN, 0}};
    for (intptr_t C : Connections) Polled.push_back({static_cast<TFd>(C), POLLIN, 0});
    PollSockets(Polled.data(), Polled.size(), 10);
    if (Polled[0].revents & POLLIN)
      Connections.push_back(static_cast<intptr_t>(accept(Polled[0].fd, nullptr, nullptr)));
    for (size_t I = 1; I < Polled.size(); ++I) {
      if (!(Polled[I].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const auto N = recv(Polled[I].fd, Buffer.data(), static_cast<int>(Buffer.size()), 0);
      if (N <= 0) {
        CloseSocket(Connections[I - 1]);
        Connections[I - 1] = -1;
        continue;
      }
      std::lock_guard Guard(Lock);
      Bytes.append(Buffer.data(), static_cast<size_t>(N));
      Arrived.notify_all();
    }
    std::erase(Connections, -1);
  }
  for (intptr_t C : Connections) CloseSocket(C);
}

std::vector<std::string> TLoopbackPeer::WaitForLines(size_t Count,
                                                     std::chrono::milliseconds Timeout) {
  auto Lines = [this] {
    std::vector<std::string> Result;
    size_t Start = 0, End;
    while ((End = Bytes.find("\r\n", Start)) != std::string::npos) {
      Result.push_back(Bytes.substr(Start, End + 2 - Start));
      Start = End + 2;
    }
    return Result;
  };
  std::unique_lock Guard(Lock);
  Arrived.wait_for(Guard, Timeout, [&] { return Lines().size() >= Count; });
  return Lines();
}

std::string TLoopbackPeer::Received() {
  std::lock_guard Guard(Lock);
  return Bytes;
}

void TLoopbackPeer::ClearReceived() {
  std::lock_guard Guard(Lock);
  Bytes.clear();
}

std::shared_ptr<TLinkClient> ConnectTo(const TLoopbackPeer& Peer) {
  auto Client = std::make_shared<TLinkClient>();
  Client->Host = u"127.0.0.1";
  Client->Port = Peer.Port();
  Client->ReadTimeout = 2000;
  Client->Connect();
  return Client;
}
