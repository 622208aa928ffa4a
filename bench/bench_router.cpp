// The router end to end: getValues requests for 1,000 tags of a simulated OPC server, routed to its
// worker, answered and written as lines to a loopback socket, counted when the bytes arrive.
// Alongside: the two router-side costs of one such request, reading it and building its answer.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "JSONText.h"
#include "LinkClient.h"
#include "OpcSim.h"
#include "RegistryFill.h"
#include "Router.h"
#include "RouterMessages.h"

namespace {

const std::u16string ServerId = u"{12226D95-F79B-42B9-BF2E-69408C20B162}";
constexpr int Tags = 1000;

// Accepts one connection on 127.0.0.1 and counts the lines and bytes that arrive.
class TLineCounter {
 public:
  TLineCounter() {
    Listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Len = sizeof(Address);
    bind(Listener, reinterpret_cast<sockaddr*>(&Address), sizeof(Address));
    listen(Listener, 1);
    getsockname(Listener, reinterpret_cast<sockaddr*>(&Address), &Len);
    Port = ntohs(Address.sin_port);
    Thread = std::thread([this] { Run(); });
  }
  ~TLineCounter() {
    Thread.join();  // ends when the client closes
    close(Listener);
  }
  void WaitForLines(uint64_t Count) {
    std::unique_lock Guard(Lock);
    Arrived.wait(Guard, [&] { return Lines >= Count; });
  }
  uint64_t LinesSoFar() {
    std::lock_guard Guard(Lock);
    return Lines;
  }
  uint64_t BytesSoFar() {
    std::lock_guard Guard(Lock);
    return Bytes;
  }
  // The last complete line, kept only while Keep is set.
  std::string LastLine() {
    std::lock_guard Guard(Lock);
    return Last;
  }
  std::atomic<bool> Keep{false};
  uint16_t Port = 0;

 private:
  void Run() {
    const int Connection = accept(Listener, nullptr, nullptr);
    std::vector<char> Buffer(1 << 16);
    std::string Partial;
    ssize_t N;
    while ((N = recv(Connection, Buffer.data(), Buffer.size(), 0)) > 0) {
      uint64_t NewLines = 0;
      for (ssize_t I = 0; I < N; ++I) NewLines += Buffer[I] == '\n';
      std::lock_guard Guard(Lock);
      if (Keep) {
        Partial.append(Buffer.data(), N);
        const size_t End = Partial.rfind('\n');
        if (End != std::string::npos) {
          const size_t Start = Partial.rfind('\n', End - 1);
          Last = Partial.substr(Start == std::string::npos ? 0 : Start + 1,
                                End - (Start == std::string::npos ? 0 : Start + 1));
          Partial.erase(0, End + 1);
        }
      }
      Lines += NewLines;
      Bytes += N;
      Arrived.notify_all();
    }
    close(Connection);
  }

  int Listener = -1;
  std::mutex Lock;
  std::condition_variable Arrived;
  uint64_t Lines = 0, Bytes = 0;
  std::string Last;
  std::thread Thread;
};

// One simulated server, registered for discovery and with COM, a router connected to a counting
// peer, and the request text for 1,000 of the server's tags.
class TBench {
 public:
  TBench() {
    std::u16string Error;
    if (!opcsim::LoadConfigFile(OPCSIM_CONFIG, Error) || FAILED(Registration.Register()))
      throw std::runtime_error("opcsim");
    RegistryFill::CreateKey(u"Software\\Classes\\Tagrelay.OpcSim.1\\OPC");
    RegistryFill::SetDefaultString(u"Software\\Classes\\Tagrelay.OpcSim.1\\CLSID", ServerId);
    Client = std::make_shared<TLinkClient>();
    Client->Host = u"127.0.0.1";
    Client->Port = Peer.Port;
    Client->Connect();
    Router = std::make_unique<TRouter>(std::chrono::hours(1));
    Router->SetTCPClientProp(Client);
    Peer.Keep = true;
    Router->InitConnect();
    Call(u"{\"cmd\":\"OPCConnect\",\"TransID\":1,\"OPCServerID\":\"" + ServerId +
         u"\",\"syncMode\":\"sync\",\"responseTime\":500}");
    const std::string TagList =
        Call(u"{\"cmd\":\"getTags\",\"TransID\":2,\"OPCServerID\":\"" + ServerId + u"\"}");
    Request = u"{\"cmd\":\"getValues\",\"TransID\":3,\"OPCServerID\":\"" + ServerId +
              u"\",\"tagNames\":[";
    TqvJSONptr Document = TqvJSON::ParseText(std::u16string(TagList.begin(), TagList.end()));
    auto* List = Document->As<TqvJSONobject>()->OldGetField(u"ListTags")->As<TqvJSONlist>();
    for (int I = 0; I < Tags && I < List->Count(); ++I) {
      Names.push_back(List->ItemAt(I)->As<TqvJSONobject>()->getString(u"hash"));
      Request += (I ? u",\"" : u"\"") + Names.back() + u"\"";
    }
    Request += u"]}";
    Call(Request);  // adds the items and builds the group
    Router->UpdateEvent();
    Answer = Call(Request);
    Peer.Keep = false;
  }
  ~TBench() {
    Router.reset();
    Client->Disconnect();
    Registration.Revoke();
  }

  // Routes one request and returns the line that answers it.
  std::string Call(const std::u16string& Line) {
    const uint64_t Before = Peer.LinesSoFar();
    Router->MakeRouting(Line);
    Peer.WaitForLines(Before + 1);
    return Peer.LastLine();
  }

  opcsim::ClassObjectRegistration Registration;
  TLineCounter Peer;
  std::shared_ptr<TLinkClient> Client;
  std::unique_ptr<TRouter> Router;
  std::u16string Request;
  TArray Names;
  std::string Answer;
};

TBench& Bench() {
  static TBench Instance;
  return Instance;
}

// Requests in flight at once (a worker's queue holds at most 100).
void BM_GetValuesEndToEnd(benchmark::State& State) {
  TBench& B = Bench();
  const int InFlight = static_cast<int>(State.range(0));
  const uint64_t BytesBefore = B.Peer.BytesSoFar();
  for (auto _ : State) {
    const uint64_t Before = B.Peer.LinesSoFar();
    for (int I = 0; I < InFlight; ++I) B.Router->MakeRouting(B.Request);
    B.Peer.WaitForLines(Before + InFlight);
  }
  State.SetItemsProcessed(State.iterations() * InFlight);
  State.SetBytesProcessed(static_cast<int64_t>(B.Peer.BytesSoFar() - BytesBefore));
  State.counters["tags"] = static_cast<double>(B.Names.size());
  State.counters["answer_bytes"] = static_cast<double>(B.Answer.size() + 2);
}
BENCHMARK(BM_GetValuesEndToEnd)->Arg(1)->Arg(50)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Reading the request: parse, keys, tag list (no worker is named, so nothing is queued).
void BM_ReadGetValuesRequest(benchmark::State& State) {
  TBench& B = Bench();
  std::u16string Line = B.Request;
  Line.replace(Line.find(ServerId), ServerId.size(), u"{none}");
  for (auto _ : State) B.Router->MakeRouting(Line);
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_ReadGetValuesRequest)->Unit(benchmark::kMicrosecond);

// Building the answer text of 1,000 tags.
void BM_BuildGetValuesAnswer(benchmark::State& State) {
  TBench& B = Bench();
  const TArray Values(B.Names.size(), u"1234.5678");
  const TArray Qualities(B.Names.size(), u"1");
  for (auto _ : State)
    benchmark::DoNotOptimize(GetValuesMessage(ServerId, 3, B.Names, Values, Qualities));
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_BuildGetValuesAnswer)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
