// Native build only: the part of the Windows COM and OLE Automation API that
// the OPC code and the simulated server use, with the Windows names, types and
// signatures, so that the same sources compile on Linux. Strings are UTF-16
// (char16_t) as on Windows. Windows builds use the real headers and never see
// this file (see ComApi.h).
#pragma once

#ifdef _WIN32
#error "ComStandIn.h is the native stand-in; the Windows build uses the system headers"
#endif

#include <cstddef>
#include <cstdint>

// ---- Scalar types (sizes as on 64-bit Windows) ----
using HRESULT = int32_t;
using SCODE = int32_t;
using BOOL = int32_t;
using BYTE = uint8_t;
using CHAR = char;
using SHORT = int16_t;
using USHORT = uint16_t;
using WORD = uint16_t;
using INT = int32_t;
using UINT = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using FLOAT = float;
using DOUBLE = double;
using LCID = DWORD;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using DATE = double;
using ULONG_PTR = uintptr_t;
using UINT_PTR = uintptr_t;
using SIZE_T = size_t;
using PVOID = void*;
using LPVOID = void*;
using WCHAR = char16_t;
using OLECHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)
#define OLESTR(str) u##str
#define INFINITE 0xFFFFFFFFu

// ---- HRESULT ----
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define MAKE_HRESULT(sev, fac, code) \
  ((HRESULT)(((uint32_t)(sev) << 31) | ((uint32_t)(fac) << 16) | ((uint32_t)(code))))
#define HRESULT_CODE(hr) ((hr)&0xFFFF)
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1FFF)
#define FACILITY_ITF 4

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_ABORT ((HRESULT)0x80004004)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3)
#define CONNECT_E_NOCONNECTION ((HRESULT)0x80040200)
#define CONNECT_E_ADVISELIMIT ((HRESULT)0x80040201)
#define CONNECT_E_CANNOTCONNECT ((HRESULT)0x80040202)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000A)
#define DISP_E_BADINDEX ((HRESULT)0x8002000B)
#define DISP_E_ARRAYISLOCKED ((HRESULT)0x8002000D)
#define RPC_E_SERVER_DIED ((HRESULT)0x80010007)
#define RPC_E_SERVER_DIED_DNE ((HRESULT)0x80010012)
#define CO_E_SERVER_STOPPING ((HRESULT)0x80080008)
#define CO_E_SERVER_EXEC_FAILURE ((HRESULT)0x80080005)
inline constexpr HRESULT HRESULT_FROM_WIN32(unsigned long x) {
  return (HRESULT)x <= 0 ? (HRESULT)x : (HRESULT)((x & 0xFFFFu) | (7u << 16) | 0x80000000u);
}
#define RPC_S_SERVER_UNAVAILABLE 1722L
#define RPC_E_DISCONNECTED ((HRESULT)0x80010108)
#define RPC_E_WRONG_THREAD ((HRESULT)0x8001010E)

// ---- Constants of the COM and OLE Automation calls ----
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define REGCLS_SINGLEUSE 0
#define REGCLS_MULTIPLEUSE 1
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

// ---- GUID ----
struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using CATID = GUID;
using LPGUID = GUID*;
using LPCLSID = CLSID*;
using LPIID = IID*;
#define REFGUID const GUID&
#define REFIID const IID&
#define REFCLSID const CLSID&

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool operator!=(const GUID& a, const GUID& b) {
  return !(a == b);
}
inline BOOL IsEqualGUID(REFGUID a, REFGUID b) {
  return a == b;
}
inline BOOL IsEqualIID(REFIID a, REFIID b) {
  return a == b;
}
inline BOOL IsEqualCLSID(REFCLSID a, REFCLSID b) {
  return a == b;
}
inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// __uuidof as the mingw-w64 headers emulate it: one specialisation per
// interface type.
template <typename T>
constexpr const GUID& tg_com_uuidof();
template <typename T>
struct tg_com_uuid_holder;
#define TG_DECLARE_UUID(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)         \
  template <>                                                                    \
  struct tg_com_uuid_holder<type> {                                              \
    static constexpr GUID value = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}; \
  };                                                                             \
  template <>                                                                    \
  constexpr const GUID& tg_com_uuidof<type>() {                                  \
    return tg_com_uuid_holder<type>::value;                                      \
  }                                                                              \
  template <>                                                                    \
  constexpr const GUID& tg_com_uuidof<type*>() {                                 \
    return tg_com_uuid_holder<type>::value;                                      \
  }
#define __uuidof(x) tg_com_uuidof<__typeof__(x)>()

// ---- Interfaces ----
#define STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

  template <class Q>
  HRESULT QueryInterface(Q** pp) {
    return QueryInterface(tg_com_uuidof<Q>(), reinterpret_cast<void**>(pp));
  }
};
using LPUNKNOWN = IUnknown*;
TG_DECLARE_UUID(IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46)

template <typename T>
void** IID_PPV_ARGS_Helper(T** pp) {
  static_cast<void>(static_cast<IUnknown*>(*pp));  // only interface pointers
  return reinterpret_cast<void**>(pp);
}
#define IID_PPV_ARGS(ppType) __uuidof(**(ppType)), IID_PPV_ARGS_Helper(ppType)

struct IClassFactory : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                   void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};
TG_DECLARE_UUID(IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46)

struct IEnumString : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumString** ppenum) = 0;
};
using LPENUMSTRING = IEnumString*;
TG_DECLARE_UUID(IEnumString, 0x00000101, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46)

struct IEnumUnknown : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumUnknown** ppenum) = 0;
};
TG_DECLARE_UUID(IEnumUnknown, 0x00000100, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46)

struct IConnectionPointContainer;
struct IConnectionPoint;

struct CONNECTDATA {
  IUnknown* pUnk;
  DWORD dwCookie;
};
using LPCONNECTDATA = CONNECTDATA*;

struct IEnumConnections : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, LPCONNECTDATA rgcd,
                                         ULONG* pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cConnections) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnections** ppEnum) = 0;
};
TG_DECLARE_UUID(IEnumConnections, 0xB196B287, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34,
                0x1D, 0x07)

struct IConnectionPoint : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
  virtual HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) = 0;
};
TG_DECLARE_UUID(IConnectionPoint, 0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34,
                0x1D, 0x07)

struct IEnumConnectionPoints : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, IConnectionPoint** ppCP,
                                         ULONG* pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cConnections) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** ppEnum) = 0;
};
TG_DECLARE_UUID(IEnumConnectionPoints, 0xB196B285, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00,
                0x34, 0x1D, 0x07)

struct IConnectionPointContainer : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;
};
TG_DECLARE_UUID(IConnectionPointContainer, 0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00,
                0x34, 0x1D, 0x07)

inline constexpr IID IID_IUnknown = tg_com_uuid_holder<IUnknown>::value;
inline constexpr IID IID_IClassFactory = tg_com_uuid_holder<IClassFactory>::value;
inline constexpr IID IID_IEnumString = tg_com_uuid_holder<IEnumString>::value;
inline constexpr IID IID_IEnumUnknown = tg_com_uuid_holder<IEnumUnknown>::value;
inline constexpr IID IID_IConnectionPoint = tg_com_uuid_holder<IConnectionPoint>::value;
inline constexpr IID IID_IConnectionPointContainer =
    tg_com_uuid_holder<IConnectionPointContainer>::value;
inline constexpr IID IID_IEnumConnections = tg_com_uuid_holder<IEnumConnections>::value;
inline constexpr IID IID_IEnumConnectionPoints = tg_com_uuid_holder<IEnumConnectionPoints>::value;

// ---- Structures ----
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using LPFILETIME = FILETIME*;

union CY {
  struct {
    ULONG Lo;
    LONG Hi;
  };
  LONGLONG int64;
};

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};
struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];
};
using LPSAFEARRAY = SAFEARRAY*;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0xFFF,
};

// Same size and member names as on Windows (24 bytes on 64-bit); only the
// members of the types the stand-in supports are declared.
struct VARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        SAFEARRAY* parray;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        struct {
          PVOID pvRecord;
          PVOID pRecInfo;
        } brecVal;
      };
    };
  };
};
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;
#define V_VT(X) ((X)->vt)
#define V_BSTR(X) ((X)->bstrVal)
#define V_I4(X) ((X)->lVal)
#define V_R8(X) ((X)->dblVal)
#define V_BOOL(X) ((X)->boolVal)
#define V_ARRAY(X) ((X)->parray)

// ---- Functions (ComRuntime.cpp, OleAuto.cpp); sources are non-const as in
// mingw-w64 ----
HRESULT CoInitialize(LPVOID pvReserved);
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void CoUninitialize();
LPVOID CoTaskMemAlloc(SIZE_T cb);
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid,
                         LPVOID* ppv);
HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags,
                              DWORD* lpdwRegister);
HRESULT CoRevokeClassObject(DWORD dwRegister);
HRESULT CoFileTimeNow(FILETIME* lpFileTime);
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid);
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
void SysFreeString(BSTR bstrString);
UINT SysStringLen(BSTR pbstr);
UINT SysStringByteLen(BSTR bstr);

void VariantInit(VARIANTARG* pvarg);
HRESULT VariantClear(VARIANTARG* pvarg);
HRESULT VariantCopy(VARIANTARG* pvargDest, VARIANTARG* pvargSrc);
HRESULT VariantChangeType(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                            VARTYPE vt);

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
UINT SafeArrayGetDim(SAFEARRAY* psa);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
