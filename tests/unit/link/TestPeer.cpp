#include "TestPeer.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <stdexcept>

#include "TestCertificate.h"

#ifdef _WIN32
#include <ws2tcpip.h>
using TSockLen = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
using TSockLen = socklen_t;
#endif

namespace {

void Check(bool Ok, const char* What) {
  if (!Ok) throw std::runtime_error(What);
}

sockaddr_in Loopback(uint16_t Port) {
  sockaddr_in Addr{};
  Addr.sin_family = AF_INET;
  Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Addr.sin_port = htons(Port);
  return Addr;
}

ssl_ctx_st* MakeServerContext(TPeerTls Tls) {
  SSL_CTX* Ctx = SSL_CTX_new(TLS_server_method());
  Check(Ctx != nullptr, "SSL_CTX_new");
  int Version = Tls == TPeerTls::Tls1_0Only ? TLS1_VERSION : TLS1_3_VERSION;
  SSL_CTX_set_min_proto_version(Ctx, Version);
  SSL_CTX_set_max_proto_version(Ctx, Version);
  // TLS 1.0 needs the lowest security level on the server side too.
  if (Tls == TPeerTls::Tls1_0Only) SSL_CTX_set_security_level(Ctx, 0);
  BIO* CertBio = BIO_new_mem_buf(TestCertificatePem, -1);
  BIO* KeyBio = BIO_new_mem_buf(TestKeyPem, -1);
  X509* Cert = PEM_read_bio_X509(CertBio, nullptr, nullptr, nullptr);
  EVP_PKEY* Key = PEM_read_bio_PrivateKey(KeyBio, nullptr, nullptr, nullptr);
  Check(Cert && Key && SSL_CTX_use_certificate(Ctx, Cert) == 1 &&
            SSL_CTX_use_PrivateKey(Ctx, Key) == 1,
        "test certificate");
  X509_free(Cert);
  EVP_PKEY_free(Key);
  BIO_free(CertBio);
  BIO_free(KeyBio);
  return Ctx;
}

}  // namespace

TTestPeer::TTestPeer(TPeerTls Tls) : Tls(Tls) {
  StartSockets();
  Listener = TSocket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  Check(Listener.Valid(), "socket");
  sockaddr_in Addr = Loopback(0);
  Check(bind(Listener.Handle(), reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) == 0, "bind");
  Check(listen(Listener.Handle(), 8) == 0, "listen");
  TSockLen Length = sizeof Addr;
  Check(getsockname(Listener.Handle(), reinterpret_cast<sockaddr*>(&Addr), &Length) == 0,
        "getsockname");
  FPort = ntohs(Addr.sin_port);
  if (Tls != TPeerTls::None) {
    Ctx = MakeServerContext(Tls);
    SSL_CTX_set_client_hello_cb(Ctx, OnClientHello, this);
  }
}

int TTestPeer::OnClientHello(ssl_st* Ssl, int*, void* Arg) {
  auto* Peer = static_cast<TTestPeer*>(Arg);
  if (Peer->HelloCount++ == 0) {
    const unsigned char* Suites = nullptr;
    const std::size_t Length = SSL_client_hello_get0_ciphers(Ssl, &Suites);
    for (std::size_t I = 0; I + 1 < Length; I += 2) {
      const SSL_CIPHER* Known = SSL_CIPHER_find(Ssl, Suites + I);
      Peer->Offered.push_back({static_cast<uint16_t>(Suites[I] << 8 | Suites[I + 1]),
                               Known ? SSL_CIPHER_get_bits(Known, nullptr) : -1});
    }
  }
  return SSL_CLIENT_HELLO_SUCCESS;
}

void TTestPeer::UseCertificate(const std::string& ChainPem, const std::string& KeyPem) {
  BIO* ChainBio = BIO_new_mem_buf(ChainPem.data(), static_cast<int>(ChainPem.size()));
  BIO* KeyBio = BIO_new_mem_buf(KeyPem.data(), static_cast<int>(KeyPem.size()));
  X509* Leaf = PEM_read_bio_X509(ChainBio, nullptr, nullptr, nullptr);
  EVP_PKEY* Key = PEM_read_bio_PrivateKey(KeyBio, nullptr, nullptr, nullptr);
  bool Ok = Ctx && Leaf && Key && SSL_CTX_use_certificate(Ctx, Leaf) == 1 &&
            SSL_CTX_use_PrivateKey(Ctx, Key) == 1;
  SSL_CTX_clear_chain_certs(Ctx);
  while (X509* Issuer = PEM_read_bio_X509(ChainBio, nullptr, nullptr, nullptr))
    Ok = SSL_CTX_add0_chain_cert(Ctx, Issuer) == 1 && Ok;  // takes the reference
  ERR_clear_error();
  X509_free(Leaf);
  EVP_PKEY_free(Key);
  BIO_free(ChainBio);
  BIO_free(KeyBio);
  Check(Ok, "peer certificate");
}

bool TTestPeer::RequestRenegotiation() {
  return Ssl && SSL_renegotiate(Ssl) == 1 && SSL_do_handshake(Ssl) == 1;
}

TTestPeer::~TTestPeer() {
  if (Acceptor.joinable()) {
    // A connection of our own ends a wait in accept().
    Stopping = true;
    TSocket Wake(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in Addr = Loopback(FPort);
    connect(Wake.Handle(), reinterpret_cast<sockaddr*>(&Addr), sizeof Addr);
    Wake.Close();
    Acceptor.join();
  }
  if (Echo.joinable()) Echo.join();
  CloseConnection();
  if (Ctx) SSL_CTX_free(Ctx);
}

void TTestPeer::AcceptAsync() {
  HandshakeDone = false;
  Acceptor = std::thread([this] { AcceptOne(); });
}

void TTestPeer::AcceptOne() {
  TSocket Accepted(accept(Listener.Handle(), nullptr, nullptr));
  if (Stopping || !Accepted.Valid()) return;
  Connection = std::move(Accepted);
  // A test that waits for bytes that never come fails instead of hanging.
#ifdef _WIN32
  DWORD Limit = 30000;
#else
  timeval Limit{30, 0};
#endif
  setsockopt(Connection.Handle(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&Limit),
             sizeof Limit);
  if (!Ctx) {
    if (!Greeting.empty()) Send(Greeting);
    HandshakeDone = true;
    return;
  }
  Ssl = SSL_new(Ctx);
  SSL_set_fd(Ssl, static_cast<int>(Connection.Handle()));
  HandshakeDone = SSL_accept(Ssl) == 1;
  ERR_clear_error();
}

bool TTestPeer::Accepted() {
  if (Acceptor.joinable()) Acceptor.join();
  return HandshakeDone;
}

void TTestPeer::Send(std::string_view Bytes) {
  std::size_t Sent = 0;
  while (Sent < Bytes.size()) {
    int Count = Ssl ? SSL_write(Ssl, Bytes.data() + Sent, static_cast<int>(Bytes.size() - Sent))
                    : static_cast<int>(send(Connection.Handle(), Bytes.data() + Sent,
                                            static_cast<int>(Bytes.size() - Sent), 0));
    Check(Count > 0, "peer send");
    Sent += static_cast<std::size_t>(Count);
  }
}

std::string TTestPeer::ReceiveSome() {
  char Buffer[65536];
  int Count = Ssl ? SSL_read(Ssl, Buffer, sizeof Buffer)
                  : static_cast<int>(recv(Connection.Handle(), Buffer, sizeof Buffer, 0));
  return Count > 0 ? std::string(Buffer, static_cast<std::size_t>(Count)) : std::string();
}

std::string TTestPeer::ReceiveBytes(std::size_t Count) {
  std::string All;
  while (All.size() < Count) {
    std::string Part = ReceiveSome();
    if (Part.empty()) break;
    All += Part;
  }
  return All;
}

bool TTestPeer::ReceiveEnd() {
  for (int Chunks = 0; Chunks < 100000; ++Chunks) {
    if (ReceiveSome().empty()) return true;
  }
  return false;
}

void TTestPeer::StartEcho() {
  Echo = std::thread([this] {
    std::string Pending;
    for (;;) {
      std::string Part = ReceiveSome();
      if (Part.empty()) return;
      Pending += Part;
      std::size_t End = Pending.rfind('\n');
      if (End == std::string::npos) continue;
      Send(std::string_view(Pending).substr(0, End + 1));
      Pending.erase(0, End + 1);
    }
  });
}

void TTestPeer::Close() {
  CloseConnection();
}

void TTestPeer::Reset() {
  linger Abort{1, 0};
  setsockopt(Connection.Handle(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&Abort),
             sizeof Abort);
  if (Ssl) {
    SSL_free(Ssl);
    Ssl = nullptr;
  }
  Connection.Close();
}

bool TTestPeer::WaitReadable() {
  fd_set Readable;
  FD_ZERO(&Readable);
  FD_SET(Connection.Handle(), &Readable);
  timeval Limit{30, 0};
  return select(static_cast<int>(Connection.Handle()) + 1, &Readable, nullptr, nullptr, &Limit) ==
         1;
}

void TTestPeer::CloseConnection() {
  if (Ssl) {
    SSL_shutdown(Ssl);
    SSL_free(Ssl);
    Ssl = nullptr;
  }
  Connection.Close();
}
