// What the simulator's tests share: creating the simulated servers as a client does (natively
// through the stand-in's class-object table, under Wine through the registered opcsim.dll), a
// message pump for the client thread, a recording data-change sink and small COM-rule helpers.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "OPCDA.h"
#include "SimControl.h"

namespace simtest {

using Microsoft::WRL::ComPtr;

inline constexpr CLSID kPlantServer = {
    0x12226D95, 0xF79B, 0x42B9, {0xBF, 0x2E, 0x69, 0x40, 0x8C, 0x20, 0xB1, 0x62}};
inline constexpr CLSID kEdgeServer = {
    0xAB357784, 0xDE10, 0x4308, {0x97, 0xFA, 0xF9, 0x12, 0x5F, 0x50, 0x72, 0x8C}};
inline constexpr size_t kPlantLeaves = 2806;

// Makes the simulated servers creatable in this process (natively; Windows uses the registry).
void EnsureServersAvailable();

HRESULT CreateServer(const CLSID& clsid, ComPtr<IOPCServer>& server);

// Dispatches the calling thread's messages (timer callbacks) until `done` or the time is up.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
void PumpFor(std::chrono::milliseconds duration);

// A client test fixture: one apartment, one plant server with its control interface, reset to
// its configured state before each test.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  ComPtr<IOPCServer> OpenServer(const CLSID& clsid);

  ComPtr<IOPCServer> server_;
  ComPtr<IOpcSimControl> control_;
};

// Adds one group and returns its item interface.
ComPtr<IOPCItemMgt> AddGroup(IOPCServer* server, const std::u16string& name, DWORD rate,
                             OPCHANDLE* handle = nullptr, OPCHANDLE clientHandle = 0);

struct AddedItem {
  HRESULT error = E_FAIL;
  OPCHANDLE server = 0;
  VARTYPE canonical = VT_EMPTY;
  DWORD access = 0;
};
// Adds items (client handle = 100 + index) and frees the results by the COM rules.
HRESULT AddItems(IOPCItemMgt* group, const std::vector<std::u16string>& ids,
                 std::vector<AddedItem>& added, const std::vector<VARTYPE>& requested = {});

struct ReadItem {
  HRESULT error = E_FAIL;
  OPCHANDLE client = 0;
  VARTYPE vt = VT_EMPTY;
  HRESULT textResult = E_FAIL;  // of VariantToText on the value
  std::u16string text;
  WORD quality = 0;
};
HRESULT Read(IOPCItemMgt* group, OPCDATASOURCE source, const std::vector<OPCHANDLE>& handles,
             std::vector<ReadItem>& items);

// Names listed by BrowseOPCItemIDs, the enumerator read and released by the COM rules.
HRESULT Browse(IOPCServer* server, OPCBROWSETYPE type, std::vector<std::u16string>& names,
               const std::u16string& filter = u"", VARTYPE vt = VT_EMPTY, DWORD rights = 0);
std::u16string ItemId(IOPCServer* server, const std::u16string& name);
HRESULT Move(IOPCServer* server, OPCBROWSEDIRECTION direction, const std::u16string& name);

VARIANT TextValue(const std::u16string& text);
VARIANT IntValue(LONG value);
VARIANT RealValue(double value);

std::string Narrow(const std::u16string& text);

// Records every data change it is sent, with the thread it arrived on.
class TestSink final : public IOPCDataCallback {
 public:
  struct Change {
    DWORD transid = 0;
    OPCHANDLE group = 0;
    HRESULT masterQuality = S_OK, masterError = S_OK;
    std::vector<OPCHANDLE> handles;
    std::vector<std::u16string> texts;
    std::vector<HRESULT> textResults;
    std::vector<WORD> qualities;
    std::vector<HRESULT> errors;
    std::vector<uint64_t> times;  // 100 ns ticks since 1601, UTC
    std::thread::id thread;
  };

  TestSink() = default;
  std::vector<Change> changes;
  ULONG References() const { return refs_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                         HRESULT hrMastererror, DWORD dwCount,
                                         OPCHANDLE* phClientItems, VARIANT* pvValues,
                                         WORD* pwQualities, FILETIME* pftTimeStamps,
                                         HRESULT* pErrors) override;
  HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                                           VARIANT*, WORD*, FILETIME*, HRESULT*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*,
                                            HRESULT*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

 private:
  ~TestSink() = default;
  ULONG refs_ = 1;
};

// Finds the group's data-change connection point and advises the sink on it.
HRESULT Advise(IUnknown* group, IOPCDataCallback* sink, DWORD& cookie);
HRESULT Unadvise(IUnknown* group, DWORD cookie);

}  // namespace simtest
