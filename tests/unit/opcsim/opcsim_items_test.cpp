// Groups and items: rate revision, per-item results of AddItems, reads by source and active state,
// writes with conversion to the canonical type, and a group removed while still in use.
#include "SimTestSupport.h"

namespace simtest {
namespace {

using ItemsTest = SimTest;

TEST_F(ItemsTest, AddGroupRevisesRatesAndRefusesDuplicateNames) {
  struct Case {
    const char16_t* name;
    DWORD requested;
    HRESULT hr;
    DWORD revised;
  };
  const Case cases[] = {{u"sync", 500, S_OK, 500},
                        {u"fastest", 0, OPC_S_UNSUPPORTEDRATE, 10},
                        {u"odd", 505, OPC_S_UNSUPPORTEDRATE, 510},
                        {u"sync", 500, OPC_E_DUPLICATENAME, 0},
                        {u"", 1000, S_OK, 1000}};
  for (const Case& c : cases) {
    OPCHANDLE handle = 99;
    DWORD revised = 99;
    ComPtr<IUnknown> group;
    EXPECT_EQ(server_->AddGroup(reinterpret_cast<LPCWSTR>(c.name), TRUE, c.requested, 1, nullptr,
                                nullptr, 0, &handle, &revised, IID_IUnknown, &group),
              c.hr)
        << Narrow(c.name);
    EXPECT_EQ(revised, c.revised) << Narrow(c.name);
    EXPECT_EQ(group != nullptr, SUCCEEDED(c.hr)) << Narrow(c.name);
    EXPECT_EQ(handle != 0, SUCCEEDED(c.hr)) << Narrow(c.name);
  }
  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server_->GetStatus(&status), S_OK);
  EXPECT_EQ(status->dwGroupCount, 4u);
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
  EXPECT_TRUE(FAILED(server_->RemoveGroup(12345, FALSE)));
  ComPtr<IUnknown> byName;
  EXPECT_EQ(server_->GetGroupByName(OLESTR("odd"), IID_IOPCSyncIO, &byName), S_OK);
  EXPECT_TRUE(FAILED(server_->GetGroupByName(OLESTR("none"), IID_IUnknown, &byName)));
}

TEST_F(ItemsTest, AddItemsAnswersEachItem) {
  ComPtr<IOPCItemMgt> group = AddGroup(server_.Get(), u"g", 1000);
  std::vector<AddedItem> added;
  EXPECT_EQ(AddItems(group.Get(),
                     {u"Diagnostics.Integer", u"", u"No.Such.Item", u"Diagnostics.Vector",
                      u"Diagnostics.ReadOnly", u"Diagnostics.Integer"},
                     added, {VT_EMPTY, VT_EMPTY, VT_EMPTY, VT_I4, VT_EMPTY, VT_BSTR}),
            S_FALSE);
  const HRESULT expected[] = {S_OK, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID, OPC_E_BADTYPE, S_OK,
                              S_OK};
  for (size_t i = 0; i < added.size(); ++i) EXPECT_EQ(added[i].error, expected[i]) << i;
  EXPECT_EQ(added[0].canonical, VT_I4);
  EXPECT_EQ(added[0].access, static_cast<DWORD>(OPC_READABLE | OPC_WRITEABLE));
  EXPECT_EQ(added[4].access, static_cast<DWORD>(OPC_READABLE));
  EXPECT_NE(added[0].server, 0u);
  EXPECT_NE(added[0].server, added[5].server) << "the same item twice is two items";

  OPCHANDLE handles[] = {added[0].server, 777};
  HRESULT* errors = nullptr;
  EXPECT_EQ(group->RemoveItems(2, handles, &errors), S_FALSE);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
  CoTaskMemFree(errors);
  OPCITEMRESULT* results = nullptr;
  EXPECT_EQ(group->AddItems(0, nullptr, &results, &errors), E_INVALIDARG);
  EXPECT_EQ(results, nullptr);
}

TEST_F(ItemsTest, CacheReadsNeedActiveGroupAndItem) {
  ComPtr<IOPCItemMgt> group = AddGroup(server_.Get(), u"g", 1000);
  std::vector<AddedItem> added;
  ASSERT_EQ(AddItems(group.Get(), {u"Diagnostics.Integer"}, added), S_OK);
  ComPtr<IOPCGroupStateMgt> state;
  ASSERT_EQ(group.As(&state), S_OK);
  struct Case {
    OPCDATASOURCE source;
    BOOL groupActive, itemActive;
    WORD quality;
  };
  const Case cases[] = {
      {OPC_DS_CACHE, TRUE, TRUE, OPC_QUALITY_GOOD},
      {OPC_DS_CACHE, FALSE, TRUE, OPC_QUALITY_OUT_OF_SERVICE},
      {OPC_DS_CACHE, TRUE, FALSE, OPC_QUALITY_OUT_OF_SERVICE},
      {OPC_DS_CACHE, FALSE, FALSE, OPC_QUALITY_OUT_OF_SERVICE},
      {OPC_DS_DEVICE, TRUE, TRUE, OPC_QUALITY_GOOD},
      {OPC_DS_DEVICE, FALSE, FALSE, OPC_QUALITY_GOOD},
  };
  for (const Case& c : cases) {
    DWORD revised = 0;
    BOOL active = c.groupActive;
    ASSERT_EQ(state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr),
              S_OK);
    HRESULT* errors = nullptr;
    ASSERT_EQ(group->SetActiveState(1, &added[0].server, c.itemActive, &errors), S_OK);
    CoTaskMemFree(errors);
    std::vector<ReadItem> read;
    EXPECT_EQ(Read(group.Get(), c.source, {added[0].server}, read), S_OK);
    EXPECT_EQ(read[0].quality, c.quality) << c.source << c.groupActive << c.itemActive;
    EXPECT_EQ(read[0].text, u"42");
  }
}

TEST_F(ItemsTest, ReadReportsHandlesQualitiesAndConversions) {
  ComPtr<IOPCItemMgt> group = AddGroup(server_.Get(), u"g", 1000);
  const std::vector<std::u16string> ids = {
      u"Diagnostics.Integer",       u"Diagnostics.Vector",      u"Diagnostics.Float",
      u"Diagnostics.Bad",           u"Diagnostics.LastKnown",   u"Diagnostics.Uncertain",
      u"Diagnostics.LowLimited",    u"Diagnostics.HighLimited", u"Diagnostics.Constant",
      u"Diagnostics.LocalOverride", u"Diagnostics.Float",       u"Diagnostics.Text"};
  std::vector<AddedItem> added;
  ASSERT_EQ(AddItems(group.Get(), ids, added,
                     {VT_EMPTY, VT_EMPTY, VT_EMPTY, VT_EMPTY, VT_EMPTY, VT_EMPTY, VT_EMPTY,
                      VT_EMPTY, VT_EMPTY, VT_EMPTY, VT_BSTR}),
            S_OK);
  std::vector<OPCHANDLE> handles;
  for (const AddedItem& item : added) handles.push_back(item.server);
  handles.insert(handles.begin() + 1, 4242);  // a handle the group never gave out
  std::vector<ReadItem> read;
  ASSERT_EQ(Read(group.Get(), OPC_DS_DEVICE, handles, read), S_FALSE);

  EXPECT_EQ(read[0].error, S_OK);
  EXPECT_EQ(read[0].client, 100u);
  EXPECT_EQ(read[1].error, OPC_E_INVALIDHANDLE);
  EXPECT_EQ(read[1].vt, VT_EMPTY);
  EXPECT_EQ(read[2].vt, VT_ARRAY | VT_R8);
  EXPECT_TRUE(FAILED(read[2].textResult)) << "an array has no text";
  EXPECT_EQ(read[3].text, u"0.100000001490116");
  const WORD qualities[] = {0x00, 0x14, 0x40, 0xC1, 0xC2, 0xC3, 0xD8};
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(read[4 + i].quality, qualities[i]) << i;
  EXPECT_EQ(read[11].vt, VT_BSTR) << "the requested type";
  EXPECT_EQ(read[11].text, u"0.1");
  EXPECT_EQ(read[12].text, u"Gr\u00fc\u00dfe");
}

struct WriteCase {
  const char16_t* item;
  VARIANT value;
  HRESULT hr;
  const char16_t* after;  // the item's text read back after the write
};

TEST_F(ItemsTest, WriteConvertsToTheCanonicalTypeOrRefuses) {
  ComPtr<IOPCItemMgt> group = AddGroup(server_.Get(), u"g", 1000);
  WriteCase cases[] = {
      {u"Diagnostics.Integer", TextValue(u"12"), S_OK, u"12"},
      {u"Diagnostics.Integer", TextValue(u"abc"), OPC_E_BADTYPE, u"12"},
      {u"Diagnostics.Integer", RealValue(13.5), S_OK, u"14"},
      {u"Diagnostics.Small", IntValue(70000), OPC_E_RANGE, u"0"},
      {u"Diagnostics.Limited", RealValue(150), OPC_E_RANGE, u"50"},
      {u"Diagnostics.Limited", TextValue(u"99.5"), S_OK, u"99.5"},
      {u"Diagnostics.ReadOnly", IntValue(5), OPC_E_BADRIGHTS, u"1"},
      {u"Diagnostics.Locked", IntValue(5), E_FAIL, u"3"},
      {u"Diagnostics.Names", RealValue(1), OPC_E_BADTYPE, u""},
      {u"Diagnostics.Flag", TextValue(u"False"), S_OK, u"False"},
      {u"Diagnostics.Text", IntValue(7), S_OK, u"7"},
      {u"Diagnostics.WriteOnly", IntValue(9), S_OK, u""},
  };
  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(group.As(&io), S_OK);
  for (WriteCase& c : cases) {
    std::vector<AddedItem> added;
    ASSERT_EQ(AddItems(group.Get(), {c.item}, added), S_OK) << Narrow(c.item);
    OPCHANDLE handle = added[0].server;
    HRESULT* errors = nullptr;
    const HRESULT call = io->Write(1, &handle, &c.value, &errors);
    EXPECT_EQ(call, c.hr == S_OK ? S_OK : S_FALSE) << Narrow(c.item);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(errors[0], c.hr) << Narrow(c.item);
    CoTaskMemFree(errors);
    VariantClear(&c.value);
    std::vector<ReadItem> read;
    Read(group.Get(), OPC_DS_DEVICE, {handle}, read);
    if (read[0].error == S_OK) {
      EXPECT_EQ(read[0].text, c.after) << Narrow(c.item);
    }
  }
  OPCHANDLE bad = 31337;
  VARIANT value = IntValue(1);
  HRESULT* errors = nullptr;
  EXPECT_EQ(io->Write(1, &bad, &value, &errors), S_FALSE);
  EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
  CoTaskMemFree(errors);
}

TEST_F(ItemsTest, GroupRemovedWhileInUseFailsLaterCalls) {
  OPCHANDLE handle = 0;
  ComPtr<IOPCItemMgt> group = AddGroup(server_.Get(), u"held", 1000, &handle);
  EXPECT_EQ(server_->RemoveGroup(handle, FALSE), OPC_S_INUSE);
  std::vector<AddedItem> added;
  EXPECT_EQ(AddItems(group.Get(), {u"Diagnostics.Integer"}, added), E_FAIL);
  EXPECT_EQ(server_->RemoveGroup(handle, FALSE), E_FAIL) << "already gone from the server";

  OPCHANDLE second = 0;
  ComPtr<IOPCItemMgt> forced = AddGroup(server_.Get(), u"held", 1000, &second);
  EXPECT_EQ(server_->RemoveGroup(second, TRUE), S_OK);
  OPCHANDLE third = 0;
  AddGroup(server_.Get(), u"released", 1000, &third);  // the client keeps no interface
  EXPECT_EQ(server_->RemoveGroup(third, FALSE), S_OK);
}

}  // namespace
}  // namespace simtest
