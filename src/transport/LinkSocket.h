// One open connection of a link client: the TCP socket, its optional TLS session and the wake-up
// that lets Close end the waits of other threads. Shared by the reading thread, the writing
// threads and the thread that closes it; the socket itself is closed when the last of them lets
// go, so no thread ever uses a closed (and perhaps reused) socket handle.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "SocketApi.h"
#include "TlsSession.h"

class TLinkSSLHandler;

class TLinkSocket {
 public:
  enum class TReceived { Data, TimedOut, PeerClosed, LocalClosed };

  // Creates, binds and connects the socket and, with Ssl, performs the TLS handshake. Raises
  // ELinkError on failure and leaves no socket open. Signalling Wake ends the name look-up, the
  // connect or the handshake at once with 10053; once open, the connection's Close signals it.
  static std::shared_ptr<TLinkSocket> Open(const std::u16string& Host, uint16_t Port,
                                           const TLinkSSLHandler* Ssl,
                                           std::shared_ptr<TWakeSocket> Wake);

  // Receives up to Size bytes into Buffer (Count), waiting at most TimeoutMs (negative: no limit)
  // for them. Raises the socket error on failure.
  TReceived Receive(char* Buffer, std::size_t Size, int32_t TimeoutMs, std::size_t& Count);

  // Sends all bytes. With TLS, a send that stays blocked longer than the handler's time-out
  // fails. Raises the socket error on failure, also when Close ends the send.
  void Send(const char* Data, std::size_t Size);

  // From any thread: sends the TLS close notification, releases the TLS session, shuts down the
  // sending direction and wakes every thread that waits on this connection.
  void Close();

  TLinkSocket(TSocket Socket, std::shared_ptr<TWakeSocket> Wake, std::unique_ptr<TTlsSession> Tls,
              int32_t TlsTimeoutMs);

 private:
  void Handshake();
  void SendPlain(const char* Data, std::size_t Size);
  void SendTls(const char* Data, std::size_t Size);
  [[noreturn]] void RaiseTlsError(const TTlsSession::TResult& Result);

  TSocket Socket;
  std::shared_ptr<TWakeSocket> SharedWake;  // shared with the client while it connects
  TWakeSocket& Wake;
  std::unique_ptr<TTlsSession> Tls;
  int32_t TlsTimeoutMs;
  std::atomic<bool> Closed{false};
};
