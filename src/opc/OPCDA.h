// OPC Data Access 2.0 custom interfaces, structures, enumerations, constants
// and identifiers, as published (method order and structure layouts are binary
// contracts with the servers). The same header serves the Windows build (system
// COM headers) and the native build (COM stand-in).
#pragma once

#include "ComApi.h"

// ---- Scalar types and enumerations (an enumeration is a 32-bit int in memory)
// ----
typedef DWORD OPCHANDLE;

enum OPCDATASOURCE { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 };
enum OPCBROWSETYPE { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 };
enum OPCNAMESPACETYPE { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 };
enum OPCBROWSEDIRECTION { OPC_BROWSE_UP = 1, OPC_BROWSE_DOWN = 2, OPC_BROWSE_TO = 3 };
enum OPCEUTYPE { OPC_NOENUM = 0, OPC_ANALOG = 1, OPC_ENUMERATED = 2 };
enum OPCSERVERSTATE {
  OPC_STATUS_RUNNING = 1,
  OPC_STATUS_FAILED = 2,
  OPC_STATUS_NOCONFIG = 3,
  OPC_STATUS_SUSPENDED = 4,
  OPC_STATUS_TEST = 5,
  OPC_STATUS_COMM_FAULT = 6,
};
enum OPCENUMSCOPE {
  OPC_ENUM_PRIVATE_CONNECTIONS = 1,
  OPC_ENUM_PUBLIC_CONNECTIONS = 2,
  OPC_ENUM_ALL_CONNECTIONS = 3,
  OPC_ENUM_PRIVATE = 4,
  OPC_ENUM_PUBLIC = 5,
  OPC_ENUM_ALL = 6,
};

// Data Access 3.0 browsing: which elements a Browse call returns.
enum OPCBROWSEFILTER {
  OPC_BROWSE_FILTER_ALL = 1,
  OPC_BROWSE_FILTER_BRANCHES = 2,
  OPC_BROWSE_FILTER_ITEMS = 3,
};

// ---- Browse element flags (a mask) ----
#define OPC_BROWSE_HASCHILDREN 0x01
#define OPC_BROWSE_ISITEM 0x02

// ---- Access rights (a mask) ----
#define OPC_READABLE 0x1
#define OPC_WRITEABLE 0x2

// ---- Quality word: QQSSSSLL in the low byte ----
#define OPC_QUALITY_MASK 0xC0
#define OPC_STATUS_MASK 0xFC
#define OPC_LIMIT_MASK 0x03
#define OPC_QUALITY_BAD 0x00
#define OPC_QUALITY_UNCERTAIN 0x40
#define OPC_QUALITY_GOOD 0xC0
#define OPC_QUALITY_CONFIG_ERROR 0x04
#define OPC_QUALITY_NOT_CONNECTED 0x08
#define OPC_QUALITY_DEVICE_FAILURE 0x0C
#define OPC_QUALITY_SENSOR_FAILURE 0x10
#define OPC_QUALITY_LAST_KNOWN 0x14
#define OPC_QUALITY_COMM_FAILURE 0x18
#define OPC_QUALITY_OUT_OF_SERVICE 0x1C
#define OPC_QUALITY_LAST_USABLE 0x44
#define OPC_QUALITY_SENSOR_CAL 0x50
#define OPC_QUALITY_EGU_EXCEEDED 0x54
#define OPC_QUALITY_SUB_NORMAL 0x58
#define OPC_QUALITY_LOCAL_OVERRIDE 0xD8
#define OPC_LIMIT_OK 0x00
#define OPC_LIMIT_LOW 0x01
#define OPC_LIMIT_HIGH 0x02
#define OPC_LIMIT_CONST 0x03

// ---- Result codes ----
#define OPC_E_INVALIDHANDLE ((HRESULT)0xC0040001L)
#define OPC_E_BADTYPE ((HRESULT)0xC0040004L)
#define OPC_E_PUBLIC ((HRESULT)0xC0040005L)
#define OPC_E_BADRIGHTS ((HRESULT)0xC0040006L)
#define OPC_E_UNKNOWNITEMID ((HRESULT)0xC0040007L)
#define OPC_E_INVALIDITEMID ((HRESULT)0xC0040008L)
#define OPC_E_INVALIDFILTER ((HRESULT)0xC0040009L)
#define OPC_E_UNKNOWNPATH ((HRESULT)0xC004000AL)
#define OPC_E_RANGE ((HRESULT)0xC004000BL)
#define OPC_E_DUPLICATENAME ((HRESULT)0xC004000CL)
#define OPC_S_UNSUPPORTEDRATE ((HRESULT)0x0004000DL)
#define OPC_S_CLAMP ((HRESULT)0x0004000EL)
#define OPC_S_INUSE ((HRESULT)0x0004000FL)
#define OPC_E_INVALIDCONFIGFILE ((HRESULT)0xC0040010L)
#define OPC_E_NOTFOUND ((HRESULT)0xC0040011L)
#define OPC_E_INVALID_PID ((HRESULT)0xC0040203L)
#define OPC_E_INVALIDCONTINUATIONPOINT ((HRESULT)0xC0040403L)
#define OPC_E_NOTSUPPORTED ((HRESULT)0xC0040406L)

// ---- Item property identifiers ----
#define OPC_PROPERTY_ACCESS_RIGHTS 5

// ---- Structures (natural alignment; offsets are checked by the tests) ----
struct OPCITEMDEF {
  LPWSTR szAccessPath;
  LPWSTR szItemID;
  BOOL bActive;
  OPCHANDLE hClient;
  DWORD dwBlobSize;
  BYTE* pBlob;
  VARTYPE vtRequestedDataType;
  WORD wReserved;
};

struct OPCITEMRESULT {
  OPCHANDLE hServer;
  VARTYPE vtCanonicalDataType;
  WORD wReserved;
  DWORD dwAccessRights;
  DWORD dwBlobSize;
  BYTE* pBlob;
};

struct OPCITEMSTATE {
  OPCHANDLE hClient;
  FILETIME ftTimeStamp;
  WORD wQuality;
  WORD wReserved;
  VARIANT vDataValue;
};

struct OPCSERVERSTATUS {
  FILETIME ftStartTime;
  FILETIME ftCurrentTime;
  FILETIME ftLastUpdateTime;
  OPCSERVERSTATE dwServerState;
  DWORD dwGroupCount;
  DWORD dwBandWidth;
  WORD wMajorVersion;
  WORD wMinorVersion;
  WORD wBuildNumber;
  WORD wReserved;
  LPWSTR szVendorInfo;
};

struct OPCITEMATTRIBUTES {
  LPWSTR szAccessPath;
  LPWSTR szItemID;
  BOOL bActive;
  OPCHANDLE hClient;
  OPCHANDLE hServer;
  DWORD dwAccessRights;
  DWORD dwBlobSize;
  BYTE* pBlob;
  VARTYPE vtRequestedDataType;
  VARTYPE vtCanonicalDataType;
  OPCEUTYPE dwEUType;
  VARIANT vEUInfo;
};

// Data Access 3.0: one property of an item, as Browse and GetProperties return it.
struct OPCITEMPROPERTY {
  VARTYPE vtDataType;
  WORD wReserved;
  DWORD dwPropertyID;
  LPWSTR szItemID;
  LPWSTR szDescription;
  VARIANT vValue;
  HRESULT hrErrorID;
  DWORD dwReserved;
};

// The properties of one item: dwNumProperties entries at pItemProperties.
struct OPCITEMPROPERTIES {
  HRESULT hrErrorID;
  DWORD dwNumProperties;
  OPCITEMPROPERTY* pItemProperties;
  DWORD dwReserved;
};

// One element of a browsed level: its short name, its item identifier, OPC_BROWSE_* flags and
// the properties asked for.
struct OPCBROWSEELEMENT {
  LPWSTR szName;
  LPWSTR szItemID;
  DWORD dwFlagValue;
  DWORD dwReserved;
  OPCITEMPROPERTIES ItemProperties;
};

// ---- Interfaces (every one derives directly from IUnknown; slots follow the
// IDL order) ----
struct IOPCServer : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive,
                                             DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                                             LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID,
                                             OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                             REFIID riid, LPUNKNOWN* ppUnk) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale,
                                                   LPWSTR* ppString) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid,
                                                   LPUNKNOWN* ppUnk) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                          LPUNKNOWN* ppUnk) = 0;
};

struct IOPCServerPublicGroups : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPublicGroupByName(LPCWSTR szName, REFIID riid,
                                                         LPUNKNOWN* ppUnk) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
};

struct IOPCBrowseServerAddressSpace : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) = 0;
  virtual HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                                         LPCWSTR szString) = 0;
  virtual HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType,
                                                     LPCWSTR szFilterCriteria,
                                                     VARTYPE vtDataTypeFilter,
                                                     DWORD dwAccessRightsFilter,
                                                     LPENUMSTRING* ppIEnumString) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) = 0;
  virtual HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID,
                                                      LPENUMSTRING* ppIEnumString) = 0;
};

struct IOPCGroupStateMgt : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                             LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                             OPCHANDLE* phClientGroup,
                                             OPCHANDLE* phServerGroup) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                             BOOL* pActive, LONG* pTimeBias,
                                             FLOAT* pPercentDeadband, DWORD* pLCID,
                                             OPCHANDLE* phClientGroup) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) = 0;
  virtual HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) = 0;
};

struct IOPCSyncIO : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                         OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                          HRESULT** ppErrors) = 0;
};

struct IOPCAsyncIO2 : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                                         DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                          DWORD dwTransactionID, DWORD* pdwCancelID,
                                          HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                             DWORD* pdwCancelID) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel2(DWORD dwCancelID) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetEnable(BOOL bEnable) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pbEnable) = 0;
};

struct IOPCItemMgt : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddItems(DWORD dwCount, OPCITEMDEF* pItemArray,
                                             OPCITEMRESULT** ppAddResults, HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray,
                                                  BOOL bBlobUpdate,
                                                  OPCITEMRESULT** ppValidationResults,
                                                  HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveItems(DWORD dwCount, OPCHANDLE* phServer,
                                                HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                                   HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD dwCount, OPCHANDLE* phServer,
                                                     OPCHANDLE* phClient, HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD dwCount, OPCHANDLE* phServer,
                                                 VARTYPE* pRequestedDatatypes,
                                                 HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) = 0;
};

struct IEnumOPCItemAttributes : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                         ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) = 0;
};

struct IOPCDataCallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup,
                                                 HRESULT hrMasterquality, HRESULT hrMastererror,
                                                 DWORD dwCount, OPCHANDLE* phClientItems,
                                                 VARIANT* pvValues, WORD* pwQualities,
                                                 FILETIME* pftTimeStamps, HRESULT* pErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                                   HRESULT hrMasterquality, HRESULT hrMastererror,
                                                   DWORD dwCount, OPCHANDLE* phClientItems,
                                                   VARIANT* pvValues, WORD* pwQualities,
                                                   FILETIME* pftTimeStamps, HRESULT* pErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                                    HRESULT hrMastererr, DWORD dwCount,
                                                    OPCHANDLE* pClienthandles,
                                                    HRESULT* pErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) = 0;
};

struct IOPCItemProperties : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                             DWORD** ppPropertyIDs,
                                                             LPWSTR** ppDescriptions,
                                                             VARTYPE** ppvtDataTypes) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR szItemID, DWORD dwCount,
                                                      DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                                      HRESULT** ppErrors) = 0;
  virtual HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR szItemID, DWORD dwCount,
                                                  DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                                                  HRESULT** ppErrors) = 0;
};

// Data Access 3.0 browsing on the server object: a whole level per call, by item identifier.
struct IOPCBrowse : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs,
                                                  BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                                                  DWORD* pdwPropertyIDs,
                                                  OPCITEMPROPERTIES** ppItemProperties) = 0;
  virtual HRESULT STDMETHODCALLTYPE Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint,
                                           DWORD dwMaxElementsReturned,
                                           OPCBROWSEFILTER dwBrowseFilter,
                                           LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                                           BOOL bReturnAllProperties, BOOL bReturnPropertyValues,
                                           DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                                           BOOL* pbMoreElements, DWORD* pdwCount,
                                           OPCBROWSEELEMENT** ppBrowseElements) = 0;
};

struct IOPCCommon : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) = 0;
};

struct IOPCShutdown : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) = 0;
};

// ---- Interface identifiers ----
// __uuidof(T), IID_PPV_ARGS and ComPtr::As work for these types in both builds.
#define TG_OPCDA20_UUID(type, first) \
  TG_DECLARE_UUID(type, first, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3)
TG_OPCDA20_UUID(IOPCServer, 0x39C13A4D)
TG_OPCDA20_UUID(IOPCServerPublicGroups, 0x39C13A4E)
TG_OPCDA20_UUID(IOPCBrowseServerAddressSpace, 0x39C13A4F)
TG_OPCDA20_UUID(IOPCGroupStateMgt, 0x39C13A50)
TG_OPCDA20_UUID(IOPCSyncIO, 0x39C13A52)
TG_OPCDA20_UUID(IOPCItemMgt, 0x39C13A54)
TG_OPCDA20_UUID(IEnumOPCItemAttributes, 0x39C13A55)
TG_OPCDA20_UUID(IOPCDataCallback, 0x39C13A70)
TG_OPCDA20_UUID(IOPCAsyncIO2, 0x39C13A71)
TG_OPCDA20_UUID(IOPCItemProperties, 0x39C13A72)
#undef TG_OPCDA20_UUID
TG_DECLARE_UUID(IOPCBrowse, 0x39227004, 0xA18F, 0x4B57, 0x8B, 0x0A, 0x52, 0x35, 0x67, 0x0F, 0x44,
                0x68)
TG_DECLARE_UUID(IOPCCommon, 0xF31DFDE2, 0x07B6, 0x11D2, 0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1,
                0xFB)
TG_DECLARE_UUID(IOPCShutdown, 0xF31DFDE1, 0x07B6, 0x11D2, 0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1,
                0xFB)

#define TG_OPCDA20_IID(first)                        \
  {                                                  \
    first, 0x011E, 0x11D0, {                         \
      0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3 \
    }                                                \
  }
inline constexpr IID IID_IOPCServer = TG_OPCDA20_IID(0x39C13A4D);
inline constexpr IID IID_IOPCServerPublicGroups = TG_OPCDA20_IID(0x39C13A4E);
inline constexpr IID IID_IOPCBrowseServerAddressSpace = TG_OPCDA20_IID(0x39C13A4F);
inline constexpr IID IID_IOPCGroupStateMgt = TG_OPCDA20_IID(0x39C13A50);
inline constexpr IID IID_IOPCPublicGroupStateMgt = TG_OPCDA20_IID(0x39C13A51);
inline constexpr IID IID_IOPCSyncIO = TG_OPCDA20_IID(0x39C13A52);
inline constexpr IID IID_IOPCAsyncIO = TG_OPCDA20_IID(0x39C13A53);
inline constexpr IID IID_IOPCItemMgt = TG_OPCDA20_IID(0x39C13A54);
inline constexpr IID IID_IEnumOPCItemAttributes = TG_OPCDA20_IID(0x39C13A55);
inline constexpr IID IID_IOPCDataCallback = TG_OPCDA20_IID(0x39C13A70);
inline constexpr IID IID_IOPCAsyncIO2 = TG_OPCDA20_IID(0x39C13A71);
inline constexpr IID IID_IOPCItemProperties = TG_OPCDA20_IID(0x39C13A72);
#undef TG_OPCDA20_IID
inline constexpr IID IID_IOPCCommon = {
    0xF31DFDE2, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr IID IID_IOPCShutdown = {
    0xF31DFDE1, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};

// Data Access 3.0 interfaces: IOPCBrowse is used for browsing where a server offers it, the
// others only to probe which version a server speaks.
inline constexpr IID IID_IOPCBrowse = {
    0x39227004, 0xA18F, 0x4B57, {0x8B, 0x0A, 0x52, 0x35, 0x67, 0x0F, 0x44, 0x68}};
inline constexpr IID IID_IOPCItemIO = {
    0x85C0B427, 0x2893, 0x4CBC, {0xBD, 0x78, 0xE5, 0xFC, 0x51, 0x46, 0xF0, 0x8F}};
inline constexpr IID IID_IOPCSyncIO2 = {
    0x730F5F0F, 0x55B1, 0x4C81, {0x9E, 0x18, 0xFF, 0x8A, 0x09, 0x04, 0xE1, 0xFA}};
inline constexpr IID IID_IOPCAsyncIO3 = {
    0x0967B97B, 0x36EF, 0x423E, {0xB6, 0xF8, 0x6B, 0xFF, 0x1E, 0x40, 0xD3, 0x9D}};
inline constexpr IID IID_IOPCGroupStateMgt2 = {
    0x8E368666, 0xD72E, 0x4F78, {0x87, 0xED, 0x64, 0x76, 0x11, 0xC6, 0x1C, 0x9F}};

// ---- Component categories and the server browser ----
inline constexpr CATID CATID_OPCDAServer10 = {
    0x63D5F430, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr CATID CATID_OPCDAServer20 = {
    0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr CATID CATID_OPCDAServer30 = {
    0xCC603642, 0x66D7, 0x48F1, {0xB6, 0x9A, 0xB6, 0x25, 0xE7, 0x36, 0x52, 0xD7}};
inline constexpr IID IID_IOPCServerList = {
    0x13486D50, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
inline constexpr CLSID CLSID_OpcServerList = {
    0x13486D51, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
