// The line transport's throughput on loopback: lines per second from a server to ReadLn and from
// WriteLn to a reading server (200-byte lines, plain and TLS), each next to a raw socket loop
// (or a raw OpenSSL loop) that moves the same bytes in the same way, without the link.
#include <benchmark/benchmark.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "LinkClient.h"
#include "LinkSSLHandler.h"
#include "SocketApi.h"
#include "TestPeer.h"

#include <arpa/inet.h>
#include <sys/socket.h>

namespace {

constexpr std::size_t LineBytes = 200;
constexpr std::size_t ChunkBytes = 32768;

// A peer that writes a sending server's lines is ended by the client closing; it must not be
// killed by SIGPIPE for it.
const bool IgnoreSigPipe = [] {
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}();

// Lines of 200 bytes each: 199 characters and LF.
std::string LinesBlock() {
  std::string Line(LineBytes - 1, 'v');
  Line.replace(0, 12, "{\"cmd\":\"get\"");
  Line += '\n';
  std::string Block;
  while (Block.size() + LineBytes <= 64 * 1024) Block += Line;
  return Block;
}

// A loopback server with a connected client: either the link's client or a raw one.
class TBenchPair {
 public:
  explicit TBenchPair(bool Tls) : Peer(Tls ? TPeerTls::Tls1_3Only : TPeerTls::None), Tls(Tls) {}
  ~TBenchPair() { Stop(); }

  // The link's client, connected.
  TLinkClient& LinkClient() {
    Link.Host = u"127.0.0.1";
    Link.Port = Peer.Port();
    Link.ReadTimeout = 2000;
    Link.DefStringEncoding = TTextEncoding::Utf8;
    if (Tls) Link.SetIOHandler(&Ssl);
    Peer.AcceptAsync();
    Link.Connect();
    Peer.Accepted();
    return Link;
  }

  // A plain blocking socket (and, with TLS, an OpenSSL session on it), connected.
  void RawConnect() {
    Raw = CreateTcpSocket();
    Peer.AcceptAsync();
    ConnectSocket(Raw, htonl(INADDR_LOOPBACK), Peer.Port());
    if (Tls) {
      RawCtx = SSL_CTX_new(TLS_client_method());
      RawSsl = SSL_new(RawCtx);
      SSL_set_fd(RawSsl, Raw.Handle());
      SSL_connect(RawSsl);
    }
    Peer.Accepted();
  }
  long RawReceive(char* Buffer, std::size_t Size) {
    return RawSsl ? SSL_read(RawSsl, Buffer, static_cast<int>(Size))
                  : recv(Raw.Handle(), Buffer, Size, 0);
  }
  long RawSend(const char* Data, std::size_t Size) {
    return RawSsl ? SSL_write(RawSsl, Data, static_cast<int>(Size))
                  : send(Raw.Handle(), Data, Size, MSG_NOSIGNAL);
  }

  // The server sends lines until the client goes.
  void ServeLines() {
    Worker = std::thread([this] {
      const std::string Block = LinesBlock();
      try {
        for (;;) Peer.Send(Block);
      } catch (const std::exception&) {
      }
    });
  }
  // The server reads until the client goes.
  void DrainLines() {
    Worker = std::thread([this] { Peer.ReceiveEnd(); });
  }

  void Stop() {
    Link.Disconnect();
    if (RawSsl) SSL_free(RawSsl);
    if (RawCtx) SSL_CTX_free(RawCtx);
    RawSsl = nullptr;
    RawCtx = nullptr;
    if (Raw.Valid()) shutdown(Raw.Handle(), SHUT_RDWR);
    Raw.Close();
    if (Worker.joinable()) Worker.join();
  }

 private:
  TTestPeer Peer;
  bool Tls;
  TLinkSSLHandler Ssl;
  TLinkClient Link;
  TSocket Raw;
  SSL_CTX* RawCtx = nullptr;
  SSL* RawSsl = nullptr;
  std::thread Worker;
};

void ReadLnLines(benchmark::State& State, bool Tls) {
  TBenchPair Pair(Tls);
  TLinkClient& Client = Pair.LinkClient();
  Pair.ServeLines();
  std::size_t Chars = 0;
  for (auto _ : State) Chars += Client.ReadLn().size();
  benchmark::DoNotOptimize(Chars);
  State.SetItemsProcessed(State.iterations());
  State.SetBytesProcessed(State.iterations() * LineBytes);
}

// The raw loop: 32768-byte receives, lines found with memchr, no decoding.
void RawReadLines(benchmark::State& State, bool Tls) {
  TBenchPair Pair(Tls);
  Pair.RawConnect();
  Pair.ServeLines();
  std::unique_ptr<char[]> Buffer(new char[ChunkBytes]);
  std::size_t Start = 0, End = 0, Lengths = 0;
  for (auto _ : State) {
    for (;;) {
      auto* Lf = static_cast<char*>(std::memchr(Buffer.get() + Start, '\n', End - Start));
      if (Lf) {
        Lengths += static_cast<std::size_t>(Lf - Buffer.get()) - Start;
        Start = static_cast<std::size_t>(Lf - Buffer.get()) + 1;
        break;
      }
      std::memmove(Buffer.get(), Buffer.get() + Start, End - Start);
      End -= Start;
      Start = 0;
      long Count = Pair.RawReceive(Buffer.get() + End, ChunkBytes - End);
      if (Count <= 0) {
        State.SkipWithError("raw receive failed");
        return;
      }
      End += static_cast<std::size_t>(Count);
    }
  }
  benchmark::DoNotOptimize(Lengths);
  State.SetItemsProcessed(State.iterations());
  State.SetBytesProcessed(State.iterations() * LineBytes);
}

void WriteLnLines(benchmark::State& State, bool Tls) {
  TBenchPair Pair(Tls);
  TLinkClient& Client = Pair.LinkClient();
  Pair.DrainLines();
  const std::u16string Line(LineBytes - 2, u'w');
  for (auto _ : State) Client.WriteLn(Line);
  State.SetItemsProcessed(State.iterations());
  State.SetBytesProcessed(State.iterations() * LineBytes);
}

// The raw loop: one send of the line and its CR LF per line, as WriteLn does.
void RawWriteLines(benchmark::State& State, bool Tls) {
  TBenchPair Pair(Tls);
  Pair.RawConnect();
  Pair.DrainLines();
  const std::string Line = std::string(LineBytes - 2, 'w') + "\r\n";
  for (auto _ : State) {
    std::size_t Sent = 0;
    while (Sent < Line.size()) {
      long Count = Pair.RawSend(Line.data() + Sent, Line.size() - Sent);
      if (Count <= 0) {
        State.SkipWithError("raw send failed");
        return;
      }
      Sent += static_cast<std::size_t>(Count);
    }
  }
  State.SetItemsProcessed(State.iterations());
  State.SetBytesProcessed(State.iterations() * LineBytes);
}

BENCHMARK_CAPTURE(ReadLnLines, plain, false)->UseRealTime();
BENCHMARK_CAPTURE(RawReadLines, plain, false)->UseRealTime();
BENCHMARK_CAPTURE(ReadLnLines, tls, true)->UseRealTime();
BENCHMARK_CAPTURE(RawReadLines, tls, true)->UseRealTime();
BENCHMARK_CAPTURE(WriteLnLines, plain, false)->UseRealTime();
BENCHMARK_CAPTURE(RawWriteLines, plain, false)->UseRealTime();
BENCHMARK_CAPTURE(WriteLnLines, tls, true)->UseRealTime();
BENCHMARK_CAPTURE(RawWriteLines, tls, true)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
