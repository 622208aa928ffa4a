// The SCADA side of a link under test: a server on 127.0.0.1 that the test drives byte by byte,
// over plain TCP or TLS, with Winsock or BSD sockets.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "SocketApi.h"

struct ssl_st;
struct ssl_ctx_st;

enum class TPeerTls { None, Tls1_0Only, Tls1_3Only };

class TTestPeer {
 public:
  explicit TTestPeer(TPeerTls Tls = TPeerTls::None);
  ~TTestPeer();
  TTestPeer(const TTestPeer&) = delete;
  TTestPeer& operator=(const TTestPeer&) = delete;

  uint16_t Port() const { return FPort; }

  // Presents this certificate (PEM, the leaf first) with this key instead of the built-in one.
  void UseCertificate(const std::string& ChainPem, const std::string& KeyPem);
  // The ClientHellos received so far (the first handshake's and any renegotiation's), and the
  // cipher suites the first one offered with their key bits (-1: unknown to the peer's library).
  int ClientHellos() const { return HelloCount.load(); }
  struct TSuite {
    uint16_t Id;
    int Bits;
  };
  const std::vector<TSuite>& OfferedSuites() const { return Offered; }
  // Asks the client for a renegotiation (TLS 1.2 and below); false when the request cannot be sent.
  bool RequestRenegotiation();

  // Bytes a plain peer sends as soon as it has accepted a connection.
  void SetGreeting(std::string Bytes) { Greeting = std::move(Bytes); }

  // Accepts the next connection on a background thread, with the TLS handshake when TLS is on.
  void AcceptAsync();
  // Waits for that thread; true when the connection (and handshake) is up.
  bool Accepted();

  void Send(std::string_view Bytes);
  // One receive: what arrived, "" once the client closed the connection.
  std::string ReceiveSome();
  // Receives until Count bytes have arrived or the client closed the connection.
  std::string ReceiveBytes(std::size_t Count);
  // Receives until the client closed the connection; true if it did.
  bool ReceiveEnd();

  // Sends every line received back to the client, on a thread of its own, until the client
  // closes the connection.
  void StartEcho();

  // Closes the connection (after the TLS close notification); the listener stays.
  void Close();
  // Closes the connection abortively: the client sees a reset. Bytes the client sent that are
  // still unread make sure of it where the abortive close itself is not honoured (Wine).
  void Reset();
  // Waits (bounded) until bytes from the client are waiting to be read.
  bool WaitReadable();

 private:
  void AcceptOne();
  void CloseConnection();

  TPeerTls Tls;
  std::string Greeting;
  TSocket Listener;
  uint16_t FPort = 0;
  ssl_ctx_st* Ctx = nullptr;

  TSocket Connection;
  ssl_st* Ssl = nullptr;
  std::thread Acceptor;
  std::thread Echo;
  bool HandshakeDone = false;
  std::atomic<bool> Stopping{false};
  std::atomic<int> HelloCount{0};
  std::vector<TSuite> Offered;

  static int OnClientHello(ssl_st* Ssl, int* Alert, void* Arg);
};
