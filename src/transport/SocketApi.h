// The socket calls of the line transport, the same on Winsock and on BSD sockets. Failures are
// raised as ELinkError with the Windows Sockets number of the error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
using TSocketHandle = SOCKET;
inline constexpr TSocketHandle InvalidSocketHandle = INVALID_SOCKET;
#else
using TSocketHandle = int;
inline constexpr TSocketHandle InvalidSocketHandle = -1;
#endif

// Owns one socket and closes it when released.
class TSocket {
 public:
  TSocket() = default;
  explicit TSocket(TSocketHandle Handle) : FHandle(Handle) {}
  ~TSocket() { Close(); }
  TSocket(TSocket&& Other) noexcept : FHandle(Other.Release()) {}
  TSocket& operator=(TSocket&& Other) noexcept;
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;

  TSocketHandle Handle() const { return FHandle; }
  bool Valid() const { return FHandle != InvalidSocketHandle; }
  TSocketHandle Release();
  void Close();

 private:
  TSocketHandle FHandle = InvalidSocketHandle;
};

// The Windows Sockets number of the last failed socket call on this thread.
int LastSocketError();

// Clears the last socket error of this thread, so that a call that fails without setting one
// reads as 0.
void ClearSocketError();

// Raises ELinkError("Socket Error # <Code>...").
[[noreturn]] void RaiseSocketError(int Code);

// Initialises the socket library once per process (Winsock); nothing natively.
void StartSockets();

// An IPv4 TCP socket bound to any local address and port, Nagle's algorithm off.
TSocket CreateTcpSocket();

// The IPv4 address (network byte order) of Host: dotted form as it is, otherwise the first address
// the system resolver returns for IPv4.
uint32_t ResolveIPv4(const std::u16string& Host);

// Connects, blocking, with the system's own connect time-out.
void ConnectSocket(const TSocket& Socket, uint32_t Address, uint16_t Port);

void SetNonBlocking(const TSocket& Socket);

// Shuts down the sending direction; errors are ignored (the socket is being closed anyway).
void ShutdownSending(const TSocket& Socket);

// One non-blocking attempt. A result >= 0 is a byte count (0 from Receive: the peer closed);
// -1 means the call would block; any other failure raises the socket error.
long ReceiveSome(const TSocket& Socket, char* Buffer, std::size_t Size);
long SendSome(const TSocket& Socket, const char* Data, std::size_t Size);

enum class TWaitResult { Ready, TimedOut, Woken };

// Wakes threads that wait on a connection's socket: once signalled, every wait that includes it
// returns at once. A UDP socket on the loopback address that sends to itself.
class TWakeSocket {
 public:
  TWakeSocket();
  void Signal();
  const TSocket& Socket() const { return FSocket; }

 private:
  TSocket FSocket;
};

// Waits until Socket can be read (or written, with ForWrite), has failed or was closed by the peer
// (Ready), until Wake is signalled (Woken), or at most TimeoutMs milliseconds (TimedOut; a negative
// TimeoutMs waits without limit).
TWaitResult WaitSocket(const TSocket& Socket, bool ForWrite, const TWakeSocket& Wake,
                       int32_t TimeoutMs);

// Connects the socket, leaving it non-blocking. Waits for the connection with the system's own
// connect time-out, and raises 10053 at once when Abort is signalled.
void ConnectAbortable(const TSocket& Socket, uint32_t Address, uint16_t Port,
                      const TWakeSocket& Abort);

// Waits until Done or Abort is signalled; true when Done was and Abort was not.
bool WaitSignalled(const TWakeSocket& Done, const TWakeSocket& Abort);
