// The agent's browse walks (IOPCBrowseServerAddressSpace, then IOPCBrowse) against a server in
// another process, next to the cost of one call to that server, measured in the same run: how many
// round trips the walk makes and what each one costs, so that a walk time can be told apart from
// the cost of the calls it needs; then how fast calls go through when several threads make them
// side by side. Prints figures; passes or fails nothing.
//   bench_browse_local.exe {CLSID} [walks]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "OPCBrowse.h"
#include "OPCBrowseElements.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point Start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - Start).count();
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  return Values[Values.size() / 2];
}

// Every call the walk makes through these wrappers is one round trip to the server, and so is
// the last release of an enumerator the server handed out.
struct TCallCount {
  long Calls = 0;
};

class TCountingEnum final : public IEnumString {
 public:
  TCountingEnum(IEnumString* Inner, TCallCount& Count) : Inner(Inner), Count(Count) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Iid, void** Out) override {
    if (Iid != IID_IUnknown && Iid != IID_IEnumString) return *Out = nullptr, E_NOINTERFACE;
    *Out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++Refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (--Refs != 0) return Refs;
    ++Count.Calls;
    delete this;
    return 0;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG N, LPOLESTR* Names, ULONG* Fetched) override {
    ++Count.Calls;
    return Inner->Next(N, Names, Fetched);
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG N) override { return ++Count.Calls, Inner->Skip(N); }
  HRESULT STDMETHODCALLTYPE Reset() override { return ++Count.Calls, Inner->Reset(); }
  HRESULT STDMETHODCALLTYPE Clone(IEnumString** Out) override { return *Out = nullptr, E_NOTIMPL; }

 private:
  Microsoft::WRL::ComPtr<IEnumString> Inner;
  TCallCount& Count;
  ULONG Refs = 1;
};

class TCountingBrowser final : public IOPCBrowseServerAddressSpace {
 public:
  TCountingBrowser(IOPCBrowseServerAddressSpace* Inner, TCallCount& Count)
      : Inner(Inner), Count(Count) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** Out) override {
    return *Out = nullptr, E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }  // lives on the stack
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* Type) override {
    return ++Count.Calls, Inner->QueryOrganization(Type);
  }
  HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION Direction,
                                                 LPCWSTR Name) override {
    return ++Count.Calls, Inner->ChangeBrowsePosition(Direction, Name);
  }
  HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE Type, LPCWSTR Filter, VARTYPE DataType,
                                             DWORD Access, LPENUMSTRING* Out) override {
    ++Count.Calls;
    IEnumString* Enum = nullptr;
    const HRESULT Hr = Inner->BrowseOPCItemIDs(Type, Filter, DataType, Access, &Enum);
    *Out = Enum ? new TCountingEnum(Enum, Count) : nullptr;
    if (Enum) Enum->Release();  // the wrapper holds its own reference
    return Hr;
  }
  HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR Name, LPWSTR* ItemID) override {
    return ++Count.Calls, Inner->GetItemID(Name, ItemID);
  }
  HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR ItemID, LPENUMSTRING* Out) override {
    return ++Count.Calls, Inner->BrowseAccessPaths(ItemID, Out);
  }

 private:
  IOPCBrowseServerAddressSpace* Inner;
  TCallCount& Count;
};

class TCountingElementBrowser final : public IOPCBrowse {
 public:
  TCountingElementBrowser(IOPCBrowse* Inner, TCallCount& Count) : Inner(Inner), Count(Count) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** Out) override {
    return *Out = nullptr, E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }  // lives on the stack
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetProperties(DWORD Items, LPWSTR* ItemIDs, BOOL Values,
                                          DWORD Properties, DWORD* PropertyIDs,
                                          OPCITEMPROPERTIES** Out) override {
    return ++Count.Calls,
           Inner->GetProperties(Items, ItemIDs, Values, Properties, PropertyIDs, Out);
  }
  HRESULT STDMETHODCALLTYPE Browse(LPWSTR ItemID, LPWSTR* Continuation, DWORD Max,
                                   OPCBROWSEFILTER Filter, LPWSTR NameFilter, LPWSTR VendorFilter,
                                   BOOL AllProperties, BOOL Values, DWORD Properties,
                                   DWORD* PropertyIDs, BOOL* More, DWORD* Count_,
                                   OPCBROWSEELEMENT** Elements) override {
    ++Count.Calls;
    return Inner->Browse(ItemID, Continuation, Max, Filter, NameFilter, VendorFilter, AllProperties,
                         Values, Properties, PropertyIDs, More, Count_, Elements);
  }

 private:
  IOPCBrowse* Inner;
  TCallCount& Count;
};

// The cheapest call that crosses to the server and back: GetItemID of a name.
void OneCall(IOPCBrowseServerAddressSpace* Browser) {
  LPWSTR ItemID = nullptr;
  Browser->GetItemID(const_cast<LPWSTR>(L"x"), &ItemID);
  CoTaskMemFree(ItemID);
}

HRESULT CreateLocal(const CLSID& Clsid,
                    Microsoft::WRL::ComPtr<IOPCBrowseServerAddressSpace>& Browser) {
  return CoCreateInstance(Clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCBrowseServerAddressSpace,
                          reinterpret_cast<void**>(Browser.GetAddressOf()));
}

// One call's cost: the median of five batches of 200.
double OneCallMs(IOPCBrowseServerAddressSpace* Browser) {
  constexpr int Batch = 200;
  std::vector<double> PerCall;
  for (int Round = 0; Round < 5; ++Round) {
    const auto Start = Clock::now();
    for (int I = 0; I < Batch; ++I) OneCall(Browser);
    PerCall.push_back(MsSince(Start) / Batch);
  }
  return Median(PerCall);
}

// Calls from several threads of a multithreaded apartment that share one server object (a
// process of its own): whether calls made side by side get through faster than one at a time.
void ConcurrentCalls(const CLSID& Clsid) {
  std::thread Owner([&Clsid] {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
    {
      Microsoft::WRL::ComPtr<IOPCBrowseServerAddressSpace> Browser;
      if (SUCCEEDED(CreateLocal(Clsid, Browser))) {
        constexpr int Total = 1600;
        for (int Threads : {1, 2, 4, 8}) {
          const auto Start = Clock::now();
          std::vector<std::thread> Callers;
          for (int T = 0; T < Threads; ++T)
            Callers.emplace_back([&Browser, Threads] {
              CoInitializeEx(nullptr, COINIT_MULTITHREADED);
              for (int I = 0; I < Total / Threads; ++I) OneCall(Browser.Get());
              CoUninitialize();
            });
          for (auto& Caller : Callers) Caller.join();
          std::printf("%d threads calling side by side: %.3f ms per call\n", Threads,
                      MsSince(Start) / Total);
        }
      }
    }
    CoUninitialize();
  });
  Owner.join();
}

int Measure(const CLSID& Clsid, int Walks) {
  Microsoft::WRL::ComPtr<IOPCBrowseServerAddressSpace> Browser;
  const auto Start = Clock::now();
  const HRESULT Hr = CreateLocal(Clsid, Browser);
  if (FAILED(Hr)) {
    std::printf("activation failed: 0x%08lx\n", static_cast<unsigned long>(Hr));
    return 1;
  }
  std::printf("activation %.1f ms\n", MsSince(Start));
  for (int Walk = 0; Walk < Walks; ++Walk) {
    const double Call = OneCallMs(Browser.Get());
    TCallCount Count;
    TCountingBrowser Counting(Browser.Get(), Count);
    TItemsFullList Items;
    const auto WalkStart = Clock::now();
    const int32_t Result = TBrowseWalk(&Counting).Run(Items);
    const double WalkMs = MsSince(WalkStart);
    std::printf(
        "walk %d: result %d, %zu tags, %.1f ms, %ld round trips (%.3f ms each); one call "
        "alone %.3f ms, so the calls alone take %.1f ms; under 1 s needs calls of at most "
        "%.3f ms\n",
        Walk + 1, static_cast<int>(Result), Items.size(), WalkMs, Count.Calls, WalkMs / Count.Calls,
        Call, Call * Count.Calls, 1000.0 / Count.Calls);
  }
  Microsoft::WRL::ComPtr<IOPCBrowse> Elements;
  if (FAILED(Browser.As(&Elements))) {
    std::printf("IOPCBrowse: not offered\n");
    return 0;
  }
  for (int Walk = 0; Walk < Walks; ++Walk) {
    TCallCount Count;
    TCountingElementBrowser Counting(Elements.Get(), Count);
    TItemsFullList Items;
    const auto WalkStart = Clock::now();
    const int32_t Result = TElementBrowseWalk(&Counting).Run(Items);
    const double WalkMs = MsSince(WalkStart);
    std::printf(
        "IOPCBrowse walk %d: result %d, %zu tags, %.1f ms, %ld round trips (%.3f ms each)\n",
        Walk + 1, static_cast<int>(Result), Items.size(), WalkMs, Count.Calls,
        WalkMs / Count.Calls);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  CLSID Clsid;
  if (argc < 2 || FAILED(CLSIDFromString(argv[1], &Clsid))) {
    std::printf("usage: bench_browse_local.exe {CLSID} [walks]\n");
    return 2;
  }
  const int Walks = argc > 2 ? std::max(1, _wtoi(argv[2])) : 3;
  // A single-threaded apartment, as the agent's worker threads run in.
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  const int Rc = Measure(Clsid, Walks);
  if (Rc == 0) ConcurrentCalls(Clsid);
  CoUninitialize();
  return Rc;
}
