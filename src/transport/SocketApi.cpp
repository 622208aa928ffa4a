#include "SocketApi.h"

#include <chrono>
#include <cstring>

#include "LinkError.h"
#include "SocketErrors.h"
#include "TextEncoding.h"

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using TSockLen = int;
#else
using TSockLen = socklen_t;
#endif

void CloseSocketHandle(TSocketHandle Handle) {
#ifdef _WIN32
  closesocket(Handle);
#else
  close(Handle);
#endif
}

bool WouldBlock(int Code) {
  return Code == WsaError::WouldBlock;
}

sockaddr_in MakeAddress(uint32_t Address, uint16_t Port) {
  sockaddr_in Addr{};
  Addr.sin_family = AF_INET;
  Addr.sin_addr.s_addr = Address;
  Addr.sin_port = htons(Port);
  return Addr;
}

TSocket CreateSocket(int Type, int Protocol) {
  StartSockets();
#ifdef _WIN32
  TSocket Socket(socket(AF_INET, Type, Protocol));
#else
  TSocket Socket(socket(AF_INET, Type | SOCK_CLOEXEC, Protocol));
#endif
  if (!Socket.Valid()) RaiseSocketError(LastSocketError());
  return Socket;
}

void BindSocket(const TSocket& Socket, uint32_t Address) {
  sockaddr_in Addr = MakeAddress(Address, 0);
  if (bind(Socket.Handle(), reinterpret_cast<const sockaddr*>(&Addr), sizeof Addr) != 0)
    RaiseSocketError(LastSocketError());
}

}  // namespace

TSocket& TSocket::operator=(TSocket&& Other) noexcept {
  if (this != &Other) {
    Close();
    FHandle = Other.Release();
  }
  return *this;
}

TSocketHandle TSocket::Release() {
  TSocketHandle Handle = FHandle;
  FHandle = InvalidSocketHandle;
  return Handle;
}

void TSocket::Close() {
  if (Valid()) CloseSocketHandle(Release());
}

int LastSocketError() {
#ifdef _WIN32
  return WSAGetLastError();
#else
  return WsaFromErrno(errno);
#endif
}

void ClearSocketError() {
#ifdef _WIN32
  WSASetLastError(0);
#else
  errno = 0;
#endif
}

void RaiseSocketError(int Code) {
  throw ELinkError(SocketErrorMessage(Code));
}

void StartSockets() {
#ifdef _WIN32
  // Winsock stays initialised for the life of the process.
  static const int Started = [] {
    WSADATA Data;
    return WSAStartup(MAKEWORD(2, 2), &Data);
  }();
  if (Started != 0) RaiseSocketError(Started);
#endif
}

TSocket CreateTcpSocket() {
  TSocket Socket = CreateSocket(SOCK_STREAM, IPPROTO_TCP);
  BindSocket(Socket, htonl(INADDR_ANY));
  // Every line is handed over whole in one send, so Nagle's algorithm has nothing to coalesce and
  // would only hold back-to-back lines for the peer's delayed acknowledgement.
  int NoDelay = 1;
  if (setsockopt(Socket.Handle(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&NoDelay),
                 sizeof NoDelay) != 0)
    RaiseSocketError(LastSocketError());
  return Socket;
}

uint32_t ResolveIPv4(const std::u16string& Host) {
  StartSockets();
  std::string Name = EncodeUtf8(Host);
  in_addr Dotted{};
  if (inet_pton(AF_INET, Name.c_str(), &Dotted) == 1) return Dotted.s_addr;
#ifdef _WIN32
  ADDRINFOW Hints{};
  Hints.ai_family = AF_INET;
  Hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* Found = nullptr;
  int Result =
      GetAddrInfoW(reinterpret_cast<const wchar_t*>(Host.c_str()), nullptr, &Hints, &Found);
  if (Result != 0) RaiseSocketError(Result);
  uint32_t Address = reinterpret_cast<const sockaddr_in*>(Found->ai_addr)->sin_addr.s_addr;
  FreeAddrInfoW(Found);
#else
  addrinfo Hints{};
  Hints.ai_family = AF_INET;
  Hints.ai_socktype = SOCK_STREAM;
  addrinfo* Found = nullptr;
  int Result = getaddrinfo(Name.c_str(), nullptr, &Hints, &Found);
  if (Result != 0) RaiseSocketError(WsaFromGaiError(Result, errno));
  uint32_t Address = reinterpret_cast<const sockaddr_in*>(Found->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(Found);
#endif
  return Address;
}

void ConnectSocket(const TSocket& Socket, uint32_t Address, uint16_t Port) {
  sockaddr_in Addr = MakeAddress(Address, Port);
  int Result;
  do {
    Result = connect(Socket.Handle(), reinterpret_cast<const sockaddr*>(&Addr), sizeof Addr);
  } while (Result != 0 && LastSocketError() == WsaError::Interrupted);
  if (Result != 0) RaiseSocketError(LastSocketError());
}

void SetNonBlocking(const TSocket& Socket) {
#ifdef _WIN32
  u_long On = 1;
  if (ioctlsocket(Socket.Handle(), FIONBIO, &On) != 0) RaiseSocketError(LastSocketError());
#else
  int Flags = fcntl(Socket.Handle(), F_GETFL);
  if (Flags < 0 || fcntl(Socket.Handle(), F_SETFL, Flags | O_NONBLOCK) != 0)
    RaiseSocketError(LastSocketError());
#endif
}

void ShutdownSending(const TSocket& Socket) {
#ifdef _WIN32
  shutdown(Socket.Handle(), SD_SEND);
#else
  shutdown(Socket.Handle(), SHUT_WR);
#endif
}

long ReceiveSome(const TSocket& Socket, char* Buffer, std::size_t Size) {
  for (;;) {
#ifdef _WIN32
    long Result = recv(Socket.Handle(), Buffer, static_cast<int>(Size), 0);
#else
    long Result = recv(Socket.Handle(), Buffer, Size, 0);
#endif
    if (Result >= 0) return Result;
    int Code = LastSocketError();
    if (WouldBlock(Code)) return -1;
    if (Code != WsaError::Interrupted) RaiseSocketError(Code);
  }
}

long SendSome(const TSocket& Socket, const char* Data, std::size_t Size) {
  for (;;) {
#ifdef _WIN32
    long Result = send(Socket.Handle(), Data, static_cast<int>(Size), 0);
#else
    long Result = send(Socket.Handle(), Data, Size, MSG_NOSIGNAL);
#endif
    if (Result >= 0) return Result;
    int Code = LastSocketError();
    if (WouldBlock(Code)) return -1;
    if (Code != WsaError::Interrupted) RaiseSocketError(Code);
  }
}

TWakeSocket::TWakeSocket() : FSocket(CreateSocket(SOCK_DGRAM, IPPROTO_UDP)) {
  BindSocket(FSocket, htonl(INADDR_LOOPBACK));
  sockaddr_in Self{};
  TSockLen Length = sizeof Self;
  if (getsockname(FSocket.Handle(), reinterpret_cast<sockaddr*>(&Self), &Length) != 0 ||
      connect(FSocket.Handle(), reinterpret_cast<const sockaddr*>(&Self), sizeof Self) != 0)
    RaiseSocketError(LastSocketError());
  SetNonBlocking(FSocket);
}

void TWakeSocket::Signal() {
  char Byte = 1;
#ifdef _WIN32
  send(FSocket.Handle(), &Byte, 1, 0);
#else
  send(FSocket.Handle(), &Byte, 1, MSG_NOSIGNAL);
#endif
}

TWaitResult WaitSocket(const TSocket& Socket, bool ForWrite, const TWakeSocket& Wake,
                       int32_t TimeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs < 0 ? 0 : TimeoutMs);
  for (;;) {
    int32_t Remaining = -1;
    if (TimeoutMs >= 0) {
      auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now());
      Remaining = Left.count() > 0 ? static_cast<int32_t>(Left.count()) : 0;
    }
#ifdef _WIN32
    fd_set Readable, Writable, Failed;
    FD_ZERO(&Readable);
    FD_ZERO(&Writable);
    FD_ZERO(&Failed);
    FD_SET(Wake.Socket().Handle(), &Readable);
    FD_SET(Socket.Handle(), ForWrite ? &Writable : &Readable);
    // Winsock reports pending urgent (out-of-band) data in the exception set until it is read
    // with MSG_OOB, which the link never does; a read wait that included it would return at once
    // for the rest of the connection. Reads wait for readability alone, so an urgent byte is left
    // aside as it is on BSD sockets, and the stream itself (also a TLS stream) stays intact.
    if (ForWrite) FD_SET(Socket.Handle(), &Failed);
    timeval Limit{Remaining / 1000, (Remaining % 1000) * 1000};
    int Count = select(0, &Readable, &Writable, &Failed, Remaining < 0 ? nullptr : &Limit);
    if (Count < 0) RaiseSocketError(LastSocketError());
    if (Count == 0) return TWaitResult::TimedOut;
    if (FD_ISSET(Wake.Socket().Handle(), &Readable)) return TWaitResult::Woken;
    return TWaitResult::Ready;
#else
    pollfd Fds[2] = {{Socket.Handle(), static_cast<short>(ForWrite ? POLLOUT : POLLIN), 0},
                     {Wake.Socket().Handle(), POLLIN, 0}};
    int Count = poll(Fds, 2, Remaining);
    if (Count < 0) {
      if (errno == EINTR) continue;
      RaiseSocketError(LastSocketError());
    }
    if (Count == 0) return TWaitResult::TimedOut;
    if (Fds[1].revents != 0) return TWaitResult::Woken;
    return TWaitResult::Ready;
#endif
  }
}

namespace {

bool ConnectInProgress(int Code) {
  // Winsock reports a started connect as would-block, BSD sockets as in progress or, when a
  // signal arrived, interrupted; in every case the connect goes on without us.
  return Code == WsaError::WouldBlock || Code == WsaError::InProgress ||
         Code == WsaError::Interrupted;
}

// The pending error of a socket whose connect has ended, as a Windows Sockets number; 0 when it
// connected.
int ConnectResult(const TSocket& Socket) {
  int Error = 0;
  TSockLen Length = sizeof Error;
  if (getsockopt(Socket.Handle(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&Error),
                 &Length) != 0)
    return LastSocketError();
#ifdef _WIN32
  return Error;
#else
  return Error == 0 ? 0 : WsaFromErrno(Error);
#endif
}

// Waits until the connect of Socket has ended (true) or Abort is signalled (false).
bool WaitConnected(const TSocket& Socket, const TWakeSocket& Abort) {
  for (;;) {
#ifdef _WIN32
    // Winsock reports a failed connect in the exception set, a completed one in the write set.
    fd_set Readable, Writable, Failed;
    FD_ZERO(&Readable);
    FD_ZERO(&Writable);
    FD_ZERO(&Failed);
    FD_SET(Abort.Socket().Handle(), &Readable);
    FD_SET(Socket.Handle(), &Writable);
    FD_SET(Socket.Handle(), &Failed);
    int Count = select(0, &Readable, &Writable, &Failed, nullptr);
    if (Count < 0) RaiseSocketError(LastSocketError());
    if (FD_ISSET(Abort.Socket().Handle(), &Readable)) return false;
    if (Count > 0) return true;
#else
    pollfd Fds[2] = {{Socket.Handle(), POLLOUT, 0}, {Abort.Socket().Handle(), POLLIN, 0}};
    int Count = poll(Fds, 2, -1);
    if (Count < 0) {
      if (errno == EINTR) continue;
      RaiseSocketError(LastSocketError());
    }
    if (Fds[1].revents != 0) return false;
    if (Fds[0].revents != 0) return true;
#endif
  }
}

}  // namespace

void ConnectAbortable(const TSocket& Socket, uint32_t Address, uint16_t Port,
                      const TWakeSocket& Abort) {
  SetNonBlocking(Socket);
  sockaddr_in Addr = MakeAddress(Address, Port);
  if (connect(Socket.Handle(), reinterpret_cast<const sockaddr*>(&Addr), sizeof Addr) == 0) return;
  int Code = LastSocketError();
  if (!ConnectInProgress(Code)) RaiseSocketError(Code);
  if (!WaitConnected(Socket, Abort)) RaiseSocketError(WsaError::ConnAborted);
  Code = ConnectResult(Socket);
  if (Code != 0) RaiseSocketError(Code);
}

bool WaitSignalled(const TWakeSocket& Done, const TWakeSocket& Abort) {
  for (;;) {
#ifdef _WIN32
    fd_set Readable;
    FD_ZERO(&Readable);
    FD_SET(Done.Socket().Handle(), &Readable);
    FD_SET(Abort.Socket().Handle(), &Readable);
    if (select(0, &Readable, nullptr, nullptr, nullptr) < 0) RaiseSocketError(LastSocketError());
    if (FD_ISSET(Abort.Socket().Handle(), &Readable)) return false;
    if (FD_ISSET(Done.Socket().Handle(), &Readable)) return true;
#else
    pollfd Fds[2] = {{Done.Socket().Handle(), POLLIN, 0}, {Abort.Socket().Handle(), POLLIN, 0}};
    if (poll(Fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      RaiseSocketError(LastSocketError());
    }
    if (Fds[1].revents != 0) return false;
    if (Fds[0].revents != 0) return true;
#endif
  }
}
