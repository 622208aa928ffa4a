// One TLS client session on a connected non-blocking socket. Every call into the TLS library
// happens under one lock, so a read and a write on the session are never inside the library at
// the same moment; none of the calls waits for the network.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

#include "SocketApi.h"
#include "SslApi.h"

class TLinkSSLHandler;
struct TTlsPolicy;

class TTlsSession {
 public:
  enum class TStatus {
    Done,       // the operation completed (Count bytes for reads and writes)
    WantRead,   // retry once the socket is readable
    WantWrite,  // retry once the socket is writable
    Closed,     // the peer ended the session, or Shutdown was called
    Failed,     // see SocketError and ErrorText
  };

  struct TResult {
    TStatus Status = TStatus::Done;
    std::size_t Count = 0;
    int SocketError = 0;    // the socket error behind a failure, 0 if none
    std::string ErrorText;  // the TLS library's description of a failure
  };

  // Creates the client context with the handler's settings. Raises ELinkError when the TLS
  // library cannot be loaded or set up.
  TTlsSession(const TSocket& Socket, const TLinkSSLHandler& Settings);
  ~TTlsSession();
  TTlsSession(const TTlsSession&) = delete;
  TTlsSession& operator=(const TTlsSession&) = delete;

  TResult Handshake();
  TResult Read(char* Buffer, std::size_t Size);
  TResult Write(const char* Data, std::size_t Size);

  // Sends the close notification (as far as the socket takes it at once) and releases the
  // session; every later call returns Closed.
  void Shutdown();

 private:
  template <typename TCall>
  TResult Call(TCall&& Operation);
  void Release();

  void CheckServer(TResult& Result);

  std::mutex Lock;
  const TSslApi* Api = nullptr;
  const TTlsPolicy* Policy = nullptr;
  std::string Host;  // UTF-8, the link's host
  ssl_ctx_st* Ctx = nullptr;
  ssl_st* Ssl = nullptr;
};
