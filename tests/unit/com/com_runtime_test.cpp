// Class identifiers, the class-object table behind CoCreateInstance and the
// ComPtr smart pointer; natively against the stand-in, under Wine against the
// system's COM runtime.
#include <atomic>
#include <string>

#include <gtest/gtest.h>

#include "ComApi.h"

using Microsoft::WRL::ComPtr;

namespace {

struct ComSession {
  ComSession() { CoInitialize(nullptr); }
  ~ComSession() { CoUninitialize(); }
};

std::atomic<int> g_liveObjects{0};

// A minimal object that only answers IUnknown and counts its instances.
class TestObject final : public IUnknown {
 public:
  TestObject() { ++g_liveObjects; }
  ~TestObject() { --g_liveObjects; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

class TestFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
      return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the test's stack
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* object = new TestObject;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
  ULONG References() const { return refs_; }

 private:
  std::atomic<ULONG> refs_{1};
};

const CLSID kTestClass = {
    0x5B0C3E11, 0x6A2D, 0x4F0B, {0x9C, 0x51, 0x2E, 0x7A, 0x44, 0x10, 0xD3, 0x8F}};

TEST(ClassIdentifiers, ParseAndFormatTheRegistryForm) {
  ComSession com;
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromString(OLESTR("{39c13a4d-011e-11d0-9675-0020afd8adb3}"), &clsid), S_OK);
  EXPECT_EQ(clsid.Data1, 0x39C13A4Du);
  EXPECT_EQ(clsid.Data2, 0x011E);
  EXPECT_EQ(clsid.Data3, 0x11D0);
  const BYTE tail[8] = {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(clsid.Data4[i], tail[i]) << i;

  OLECHAR text[39];
  EXPECT_EQ(StringFromGUID2(clsid, text, 38), 0) << "too small a buffer";
  ASSERT_EQ(StringFromGUID2(clsid, text, 39), 39);
  EXPECT_EQ(OleToU16(text), u"{39C13A4D-011E-11D0-9675-0020AFD8ADB3}");

  const std::u16string bad[] = {u"39C13A4D-011E-11D0-9675-0020AFD8ADB3",
                                u"{39C13A4D-011E-11D0-9675-0020AFD8ADB}",
                                u"{39C13A4D-011E-11D0-9675-0020AFD8ADBG}", u"{}"};
  for (const std::u16string& text : bad)
    EXPECT_TRUE(FAILED(CLSIDFromString(U16ToOle(text), &clsid)))
        << std::string(text.begin(), text.end());
}

TEST(ClassObjects, CoCreateInstanceFindsRegisteredFactoriesOnly) {
  ComSession com;
  TestFactory factory;
  ComPtr<IUnknown> object;
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(object.GetAddressOf())),
            REGDB_E_CLASSNOTREG);

  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kTestClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                  &cookie),
            S_OK);
  ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                             IID_IUnknown, reinterpret_cast<void**>(object.GetAddressOf())),
            S_OK);
  EXPECT_EQ(g_liveObjects, 1);
  ComPtr<IUnknown> second;
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IEnumString,
                             reinterpret_cast<void**>(second.GetAddressOf())),
            E_NOINTERFACE);
  EXPECT_EQ(second, nullptr);
  object.Reset();
  EXPECT_EQ(g_liveObjects, 0);

  ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(factory.References(), 1u) << "the table released its reference";
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(object.GetAddressOf())),
            REGDB_E_CLASSNOTREG);
}

TEST(ComPtrSemantics, CountsReferencesLikeWrl) {
  {
    ComPtr<IUnknown> a;
    *a.ReleaseAndGetAddressOf() = new TestObject;  // takes over the creation reference
    ComPtr<IUnknown> b = a;                        // a copy adds one
    ComPtr<IUnknown> c = std::move(b);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(a.Get(), c.Get());
    ComPtr<IUnknown> d;
    ASSERT_EQ(a.As(&d), S_OK);
    EXPECT_EQ(d.Get(), a.Get());
    // &ptr releases what the pointer held before it hands out its address.
    ASSERT_EQ(a->QueryInterface(IID_IUnknown, &d), S_OK);
    ASSERT_EQ(a->QueryInterface(IID_PPV_ARGS(&c)), S_OK);
    EXPECT_EQ(g_liveObjects, 1);
    IUnknown* raw = nullptr;
    ASSERT_EQ(a.CopyTo(&raw), S_OK);
    raw->Release();
    a.Reset();
    c.Reset();
    EXPECT_EQ(g_liveObjects, 1);
    IUnknown* detached = d.Detach();
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(detached->Release(), 0u);
  }
  EXPECT_EQ(g_liveObjects, 0);
}

TEST(TaskMemory, AllocatesAndTellsTheTime) {
  ComSession com;
  void* block = CoTaskMemAlloc(64);
  ASSERT_NE(block, nullptr);
  block = CoTaskMemRealloc(block, 128);
  ASSERT_NE(block, nullptr);
  CoTaskMemFree(block);
  CoTaskMemFree(nullptr);
  FILETIME now{};
  ASSERT_EQ(CoFileTimeNow(&now), S_OK);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  EXPECT_GT(ticks, 133000000000000000ull) << "after 2022";
}

}  // namespace
