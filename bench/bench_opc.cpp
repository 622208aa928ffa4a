// The OPC access layer against the simulated server, on the calling thread as a worker would run
// it: browsing large address spaces, getValues answered from the item arrays, one change
// notification of many items turned into one push, and the CPU an idle set of workers costs.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdio>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "OPCDataCallback.h"
#include "OPCInteractor.h"
#include "OPCServer.h"
#include "OpcSim.h"
#include "SimControl.h"

namespace {

const CLSID BenchID = {
    0x5B0C4A3E, 0x2D6F, 0x4E21, {0x9A, 0x7B, 0x3C, 0x8D, 0x1E, 0x2F, 0x4A, 0x50}};
const std::u16string BenchText = u"{5B0C4A3E-2D6F-4E21-9A7B-3C8D1E2F4A50}";

std::u16string Num(long Value) {
  const std::string S = std::to_string(Value);
  return std::u16string(S.begin(), S.end());
}

// One level of BigLevel leaves, then Areas x 10 lines x PerLine leaves.
std::u16string ServerJson(long BigLevel, long Areas, long PerLine) {
  std::u16string Tree = u"{\"branch\": \"Big\", \"children\": [{\"leaf\": \"L{nnn}\", \"count\": " +
                        Num(BigLevel) + u", \"type\": \"I4\", \"value\": 1}]}";
  if (Areas > 0)
    Tree += u", {\"branch\": \"Area{n}\", \"count\": " + Num(Areas) +
            u", \"children\": [{\"branch\": \"Line{n}\", \"count\": 10, \"children\": [{\"leaf\": "
            u"\"T{nnn}\", \"count\": " +
            Num(PerLine) + u", \"type\": \"R8\", \"value\": 2.5}]}]}";
  return u"{\"progId\": \"Tagrelay.Bench.1\", \"clsid\": \"" + BenchText + u"\", \"tree\": [" +
         Tree + u"]}";
}

// The simulator in this program, and a control object to reshape its tree.
IOpcSimControl* Simulator() {
  struct TSim {
    opcsim::ClassObjectRegistration Registration;
    Microsoft::WRL::ComPtr<IOpcSimControl> Control;
    TSim() {
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      std::u16string Error;
      if (!opcsim::LoadConfig(u"{\"servers\": [" + ServerJson(1, 0, 0) + u"]}", Error) ||
          FAILED(Registration.Register())) {
        std::fprintf(stderr, "simulator: %s\n", std::string(Error.begin(), Error.end()).c_str());
        std::abort();
      }
      Microsoft::WRL::ComPtr<IUnknown> Object;
      CoCreateInstance(BenchID, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                       reinterpret_cast<void**>(Object.GetAddressOf()));
      Object->QueryInterface(IID_IOpcSimControl, reinterpret_cast<void**>(Control.GetAddressOf()));
    }
  };
  static TSim Sim;
  return Sim.Control.Get();
}

void Configure(long BigLevel, long Areas, long PerLine) {
  if (Simulator()->Configure(U16ToOle(ServerJson(BigLevel, Areas, PerLine))) != S_OK) std::abort();
}

void Browse(benchmark::State& State, long BigLevel, long Areas, long PerLine) {
  Configure(BigLevel, Areas, PerLine);
  int32_t Tags = 0;
  for (auto _ : State) {
    TOPCServer Server(BenchText);
    Server.Init(u"sync", 500);
    Tags = Server.GetTagsList();
    benchmark::DoNotOptimize(Tags);
  }
  State.counters["tags"] = Tags;
  State.counters["per_tag"] =
      benchmark::Counter(static_cast<double>(Tags) * State.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// 100,000 tags: one level of 20,000 leaves and 8 areas of 10 lines of 1,000 leaves.
void BM_BrowseAddressSpace(benchmark::State& State) {
  Browse(State, 20000, 8, 1000);
}
BENCHMARK(BM_BrowseAddressSpace)->Unit(benchmark::kMillisecond)->Iterations(3);

// One level of N leaves: the time per tag must not grow with N.
void BM_BrowseOneLevel(benchmark::State& State) {
  Browse(State, State.range(0), 0, 0);
}
BENCHMARK(BM_BrowseOneLevel)
    ->Arg(2500)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// getValues of 10,000 known tags: answered from the item arrays, no server call.
void BM_GetValuesFromArrays(benchmark::State& State) {
  Configure(10000, 0, 0);
  TOPCServer Server(BenchText);
  Server.Init(u"sync", 500);
  Server.GetTagsList();
  TArray Names;
  for (const auto& Tag : Server.GetOPCTagsArr()) Names.push_back(Tag.HashName);
  TArray Values, Qualities;
  Server.GetOPCItemValues(Names, Values, Qualities);  // builds the group once
  Server.UpdateOPCServersValues();
  for (auto _ : State) {
    benchmark::DoNotOptimize(Server.GetOPCItemValues(Names, Values, Qualities));
  }
  State.counters["tags"] = benchmark::Counter(
      static_cast<double>(Names.size()) * State.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GetValuesFromArrays)->Unit(benchmark::kMicrosecond);

// One notification of 10,000 good items turned into one push.
void BM_DataChangeToPush(benchmark::State& State) {
  constexpr DWORD Count = 10000;
  TOPCItemRecArr Items;
  for (DWORD I = 0; I < Count; ++I) {
    OPCItemRec Rec;
    Rec.HashName = Num(I);
    Rec.IdxForASync = I;
    Items.Append(Rec);
  }
  size_t Pushed = 0;
  Microsoft::WRL::ComPtr<TOPCDataCallback> Sink;
  *Sink.ReleaseAndGetAddressOf() = new TOPCDataCallback(
      &Items,
      [&Pushed](const std::u16string&, int32_t, const TArray& Names, const TArray&, const TArray&) {
        Pushed += Names.size();
      },
      BenchText);
  std::vector<OPCHANDLE> Handles(Count);
  std::vector<VARIANT> Values(Count);
  std::vector<WORD> Qualities(Count, OPC_QUALITY_GOOD);
  std::vector<FILETIME> Times(Count);
  std::vector<HRESULT> Errors(Count, S_OK);
  for (DWORD I = 0; I < Count; ++I) {
    Handles[Count - 1 - I] = I;  // reverse order: the push follows the notification
    VariantInit(&Values[I]);
    Values[I].vt = VT_R8;
    Values[I].dblVal = I * 0.5;
  }
  for (auto _ : State) {
    Sink->OnDataChange(0, 0, S_OK, S_OK, Count, Handles.data(), Values.data(), Qualities.data(),
                       Times.data(), Errors.data());
  }
  if (Pushed != Count * static_cast<size_t>(State.iterations())) State.SkipWithError("items lost");
  State.counters["items"] =
      benchmark::Counter(static_cast<double>(Pushed), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DataChangeToPush)->Unit(benchmark::kMillisecond);

double ProcessCpuSeconds() {
  timespec Now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &Now);
  return static_cast<double>(Now.tv_sec) + Now.tv_nsec / 1e9;
}

// 50 workers, each connected to its server and quiet: the CPU they use over 2 s of waiting.
void BM_IdleWorkers(benchmark::State& State) {
  Configure(10, 0, 0);
  for (auto _ : State) {
    std::atomic<int> Connected{0};
    std::vector<std::unique_ptr<TOPCInteractor>> Workers;
    for (int I = 0; I < 50; ++I) {
      Workers.push_back(std::make_unique<TOPCInteractor>(u"Tagrelay.Bench.1", BenchText));
      Workers.back()->SetOPCConnectCallback(
          [&Connected](const std::u16string&, int32_t) { ++Connected; });
      TElement Connect;
      Connect.TaskCode = 3;
      Connect.TaskSyncMode = u"sync";
      Connect.TaskResponseTime = 500;
      Workers.back()->AddTask(Connect);
    }
    while (Connected.load() < 50) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const double Before = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double Used = ProcessCpuSeconds() - Before;
    State.counters["cpu_ms_per_s"] = Used * 1000 / 2;
  }
}
BENCHMARK(BM_IdleWorkers)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
