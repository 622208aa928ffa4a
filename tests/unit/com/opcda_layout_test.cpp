// The OPC DA declarations are binary contracts with servers built elsewhere:
// structure offsets and vtable slots must match the published interfaces in
// every build, 32-bit and 64-bit.
#include <cstddef>
#include <cstring>

#include <gtest/gtest.h>

#include "OPCDA.h"

namespace {

// Vtable slot of a virtual member function (Itanium C++ ABI, used by g++ and
// mingw-w64 alike: the pointer holds 1 + the byte offset of the slot).
template <typename F>
ptrdiff_t Slot(F member) {
  static_assert(sizeof(F) == 2 * sizeof(ptrdiff_t));
  ptrdiff_t raw = 0;
  std::memcpy(&raw, &member, sizeof raw);
  return (raw - 1) / static_cast<ptrdiff_t>(sizeof(void*));
}

// A published offset or size: the first for 32-bit Windows, the second for 64-bit.
constexpr std::size_t By(std::size_t Bits32, std::size_t Bits64) {
  static_assert(sizeof(void*) == 4 || sizeof(void*) == 8);
  return sizeof(void*) == 4 ? Bits32 : Bits64;
}

static_assert(sizeof(OPCHANDLE) == 4 && sizeof(VARTYPE) == 2 && sizeof(BOOL) == 4);
static_assert(sizeof(OPCSERVERSTATE) == 4 && sizeof(OPCDATASOURCE) == 4);
static_assert(sizeof(VARIANT) == By(16, 24) && sizeof(FILETIME) == 8);

static_assert(offsetof(OPCITEMDEF, szItemID) == By(4, 8));
static_assert(offsetof(OPCITEMDEF, bActive) == By(8, 16));
static_assert(offsetof(OPCITEMDEF, hClient) == By(12, 20));
static_assert(offsetof(OPCITEMDEF, dwBlobSize) == By(16, 24));
static_assert(offsetof(OPCITEMDEF, pBlob) == By(20, 32));
static_assert(offsetof(OPCITEMDEF, vtRequestedDataType) == By(24, 40));
static_assert(offsetof(OPCITEMDEF, wReserved) == By(26, 42) && sizeof(OPCITEMDEF) == By(28, 48));

static_assert(offsetof(OPCITEMRESULT, vtCanonicalDataType) == 4);
static_assert(offsetof(OPCITEMRESULT, dwAccessRights) == 8);
static_assert(offsetof(OPCITEMRESULT, dwBlobSize) == 12 && offsetof(OPCITEMRESULT, pBlob) == 16);
static_assert(sizeof(OPCITEMRESULT) == By(20, 24));

static_assert(offsetof(OPCITEMSTATE, ftTimeStamp) == 4 && offsetof(OPCITEMSTATE, wQuality) == 12);
static_assert(offsetof(OPCITEMSTATE, vDataValue) == 16 && sizeof(OPCITEMSTATE) == By(32, 40));

static_assert(offsetof(OPCSERVERSTATUS, ftLastUpdateTime) == 16);
static_assert(offsetof(OPCSERVERSTATUS, dwServerState) == 24);
static_assert(offsetof(OPCSERVERSTATUS, dwBandWidth) == 32);
static_assert(offsetof(OPCSERVERSTATUS, wMajorVersion) == 36);
static_assert(offsetof(OPCSERVERSTATUS, wReserved) == 42);
static_assert(offsetof(OPCSERVERSTATUS, szVendorInfo) == By(44, 48));
static_assert(sizeof(OPCSERVERSTATUS) == By(48, 56));

static_assert(offsetof(OPCITEMATTRIBUTES, bActive) == By(8, 16));
static_assert(offsetof(OPCITEMATTRIBUTES, hServer) == By(16, 24));
static_assert(offsetof(OPCITEMATTRIBUTES, dwBlobSize) == By(24, 32));
static_assert(offsetof(OPCITEMATTRIBUTES, pBlob) == By(28, 40));
static_assert(offsetof(OPCITEMATTRIBUTES, vtCanonicalDataType) == By(34, 50));
static_assert(offsetof(OPCITEMATTRIBUTES, dwEUType) == By(36, 52));
static_assert(offsetof(OPCITEMATTRIBUTES, vEUInfo) == By(40, 56));
static_assert(sizeof(OPCITEMATTRIBUTES) == By(56, 80));

static_assert(offsetof(OPCITEMPROPERTY, dwPropertyID) == 4 &&
              offsetof(OPCITEMPROPERTY, szItemID) == 8);
static_assert(offsetof(OPCITEMPROPERTY, szDescription) == By(12, 16));
static_assert(offsetof(OPCITEMPROPERTY, vValue) == By(16, 24) &&
              offsetof(OPCITEMPROPERTY, hrErrorID) == By(32, 48));
static_assert(offsetof(OPCITEMPROPERTY, dwReserved) == By(36, 52) &&
              sizeof(OPCITEMPROPERTY) == By(40, 56));
static_assert(offsetof(OPCITEMPROPERTIES, dwNumProperties) == 4);
static_assert(offsetof(OPCITEMPROPERTIES, pItemProperties) == 8);
static_assert(offsetof(OPCITEMPROPERTIES, dwReserved) == By(12, 16) &&
              sizeof(OPCITEMPROPERTIES) == By(16, 24));
static_assert(offsetof(OPCBROWSEELEMENT, szItemID) == By(4, 8) &&
              offsetof(OPCBROWSEELEMENT, dwFlagValue) == By(8, 16));
static_assert(offsetof(OPCBROWSEELEMENT, ItemProperties) == By(16, 24) &&
              sizeof(OPCBROWSEELEMENT) == By(32, 48));

TEST(OpcDaDeclarations, MethodsSitInThePublishedVtableSlots) {
  struct Case {
    const char* method;
    ptrdiff_t slot;
    ptrdiff_t expected;
  };
  const Case cases[] = {
      {"IOPCServer::AddGroup", Slot(&IOPCServer::AddGroup), 3},
      {"IOPCServer::GetErrorString", Slot(&IOPCServer::GetErrorString), 4},
      {"IOPCServer::GetGroupByName", Slot(&IOPCServer::GetGroupByName), 5},
      {"IOPCServer::GetStatus", Slot(&IOPCServer::GetStatus), 6},
      {"IOPCServer::RemoveGroup", Slot(&IOPCServer::RemoveGroup), 7},
      {"IOPCServer::CreateGroupEnumerator", Slot(&IOPCServer::CreateGroupEnumerator), 8},
      {"IOPCBrowse::QueryOrganization", Slot(&IOPCBrowseServerAddressSpace::QueryOrganization), 3},
      {"IOPCBrowse::ChangeBrowsePosition",
       Slot(&IOPCBrowseServerAddressSpace::ChangeBrowsePosition), 4},
      {"IOPCBrowse::BrowseOPCItemIDs", Slot(&IOPCBrowseServerAddressSpace::BrowseOPCItemIDs), 5},
      {"IOPCBrowse::GetItemID", Slot(&IOPCBrowseServerAddressSpace::GetItemID), 6},
      {"IOPCBrowse::BrowseAccessPaths", Slot(&IOPCBrowseServerAddressSpace::BrowseAccessPaths), 7},
      {"IOPCBrowse::GetProperties", Slot(&IOPCBrowse::GetProperties), 3},
      {"IOPCBrowse::Browse", Slot(&IOPCBrowse::Browse), 4},
      {"IOPCGroupStateMgt::CloneGroup", Slot(&IOPCGroupStateMgt::CloneGroup), 6},
      {"IOPCSyncIO::Read", Slot(&IOPCSyncIO::Read), 3},
      {"IOPCSyncIO::Write", Slot(&IOPCSyncIO::Write), 4},
      {"IOPCAsyncIO2::Refresh2", Slot(&IOPCAsyncIO2::Refresh2), 5},
      {"IOPCAsyncIO2::Cancel2", Slot(&IOPCAsyncIO2::Cancel2), 6},
      {"IOPCAsyncIO2::GetEnable", Slot(&IOPCAsyncIO2::GetEnable), 8},
      {"IOPCItemMgt::AddItems", Slot(&IOPCItemMgt::AddItems), 3},
      {"IOPCItemMgt::ValidateItems", Slot(&IOPCItemMgt::ValidateItems), 4},
      {"IOPCItemMgt::RemoveItems", Slot(&IOPCItemMgt::RemoveItems), 5},
      {"IOPCItemMgt::SetActiveState", Slot(&IOPCItemMgt::SetActiveState), 6},
      {"IOPCItemMgt::SetClientHandles", Slot(&IOPCItemMgt::SetClientHandles), 7},
      {"IOPCItemMgt::SetDatatypes", Slot(&IOPCItemMgt::SetDatatypes), 8},
      {"IOPCItemMgt::CreateEnumerator", Slot(&IOPCItemMgt::CreateEnumerator), 9},
      {"IEnumOPCItemAttributes::Clone", Slot(&IEnumOPCItemAttributes::Clone), 6},
      {"IOPCDataCallback::OnDataChange", Slot(&IOPCDataCallback::OnDataChange), 3},
      {"IOPCDataCallback::OnReadComplete", Slot(&IOPCDataCallback::OnReadComplete), 4},
      {"IOPCDataCallback::OnWriteComplete", Slot(&IOPCDataCallback::OnWriteComplete), 5},
      {"IOPCDataCallback::OnCancelComplete", Slot(&IOPCDataCallback::OnCancelComplete), 6},
      {"IOPCItemProperties::LookupItemIDs", Slot(&IOPCItemProperties::LookupItemIDs), 5},
      {"IOPCCommon::SetLocaleID", Slot(&IOPCCommon::SetLocaleID), 3},
      {"IOPCCommon::GetErrorString", Slot(&IOPCCommon::GetErrorString), 6},
      {"IOPCCommon::SetClientName", Slot(&IOPCCommon::SetClientName), 7},
      {"IOPCShutdown::ShutdownRequest", Slot(&IOPCShutdown::ShutdownRequest), 3},
      {"IConnectionPointContainer::FindConnectionPoint",
       Slot(&IConnectionPointContainer::FindConnectionPoint), 4},
      {"IConnectionPoint::Advise", Slot(&IConnectionPoint::Advise), 5},
      {"IConnectionPoint::Unadvise", Slot(&IConnectionPoint::Unadvise), 6},
      {"IEnumString::Next", Slot(&IEnumString::Next), 3},
      {"IEnumString::Reset", Slot(&IEnumString::Reset), 5},
      {"IClassFactory::CreateInstance", Slot(&IClassFactory::CreateInstance), 3},
  };
  for (const Case& c : cases) EXPECT_EQ(c.slot, c.expected) << c.method;
}

TEST(OpcDaDeclarations, UuidofMatchesTheNamedIdentifiers) {
  EXPECT_TRUE(IsEqualIID(__uuidof(IOPCServer), IID_IOPCServer));
  EXPECT_TRUE(IsEqualIID(__uuidof(IOPCItemMgt), IID_IOPCItemMgt));
  EXPECT_TRUE(IsEqualIID(__uuidof(IOPCSyncIO), IID_IOPCSyncIO));
  EXPECT_TRUE(IsEqualIID(__uuidof(IOPCBrowseServerAddressSpace), IID_IOPCBrowseServerAddressSpace));
  EXPECT_TRUE(IsEqualIID(__uuidof(IOPCDataCallback), IID_IOPCDataCallback));
  EXPECT_TRUE(IsEqualIID(__uuidof(IOPCCommon), IID_IOPCCommon));
  EXPECT_TRUE(IsEqualIID(__uuidof(IOPCShutdown), IID_IOPCShutdown));
  EXPECT_TRUE(IsEqualIID(__uuidof(IOPCAsyncIO2), IID_IOPCAsyncIO2));
  EXPECT_TRUE(IsEqualIID(__uuidof(IConnectionPointContainer), IID_IConnectionPointContainer));
  EXPECT_TRUE(IsEqualIID(__uuidof(IEnumString), IID_IEnumString));
  EXPECT_TRUE(IsEqualIID(__uuidof(IOPCBrowse), IID_IOPCBrowse));

  OLECHAR text[40];
  ASSERT_EQ(StringFromGUID2(IID_IOPCServer, text, 40), 39);
  EXPECT_EQ(OleToU16(text), u"{39C13A4D-011E-11D0-9675-0020AFD8ADB3}");
  ASSERT_EQ(StringFromGUID2(IID_IOPCCommon, text, 40), 39);
  EXPECT_EQ(OleToU16(text), u"{F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}");
  ASSERT_EQ(StringFromGUID2(CATID_OPCDAServer20, text, 40), 39);
  EXPECT_EQ(OleToU16(text), u"{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}");
}

TEST(OpcDaDeclarations, ResultCodesHaveTheirSeverity) {
  EXPECT_TRUE(FAILED(OPC_E_INVALIDHANDLE));
  EXPECT_TRUE(FAILED(OPC_E_UNKNOWNITEMID));
  EXPECT_TRUE(SUCCEEDED(OPC_S_UNSUPPORTEDRATE));
  EXPECT_TRUE(SUCCEEDED(OPC_S_INUSE));
  EXPECT_EQ(static_cast<uint32_t>(OPC_E_BADTYPE), 0xC0040004u);
  EXPECT_EQ(static_cast<uint32_t>(CONNECT_E_NOCONNECTION), 0x80040200u);
  EXPECT_EQ(static_cast<uint32_t>(DISP_E_OVERFLOW), 0x8002000Au);
}

}  // namespace
