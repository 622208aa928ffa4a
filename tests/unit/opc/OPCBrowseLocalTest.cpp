// The tag table through IOPCBrowse against the simulator in a process of its own: the elements,
// their properties and the continuation points (growing from "9" to "10" on the top level at
// page size 1) cross the process boundary through the proxy/stub,
// the table equals the IOPCBrowseServerAddressSpace walk's, and the plant takes about one call
// per level.
#include <gtest/gtest.h>

#include "BrowseTestSupport.h"
#include "OPCBrowseElements.h"

namespace {

// The out-of-process plant: the in-process identifier's first field plus one.
const CLSID LocalPlantID = {
    0x12226D96, 0xF79B, 0x42B9, {0xBF, 0x2E, 0x69, 0x40, 0x8C, 0x20, 0xB1, 0x62}};
const std::u16string LocalPlantText = u"{12226D96-F79B-42B9-BF2E-69408C20B162}";

const std::u16string EdgeTree =
    uR"({"progId": "Tagrelay.OpcSimLocal.1", "clsid": "{12226D96-F79B-42B9-BF2E-69408C20B162}",
  "itemPrefix": "[Dev]", "tree": [
  {"leaf": "Uptime", "type": "UI4", "access": "r"},
  {"leaf": "N{nn}", "count": 12, "access": "r"},
  {"branch": "Plant", "children": [
    {"leaf": "Temp.PV", "type": "R8"},
    {"branch": "Line2", "children": [{"leaf": "Temp", "access": "r"}]},
    {"branch": "Locked", "refuseEntry": true, "children": [{"leaf": "Hidden"}]},
    {"branch": "Motor", "isItem": true, "children": [{"leaf": "Speed", "itemId": "PLC:7", "access": "w"}]}]}]})";

class OPCBrowseLocalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // One server process for the whole case, reached through its three interfaces.
    ASSERT_EQ(CoCreateInstance(LocalPlantID, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(Object.GetAddressOf())),
              S_OK);
    ASSERT_EQ(Object->QueryInterface(IID_IOpcSimControl,
                                     reinterpret_cast<void**>(Control.GetAddressOf())),
              S_OK);
    ASSERT_EQ(
        Object->QueryInterface(IID_IOPCBrowse, reinterpret_cast<void**>(Elements.GetAddressOf())),
        S_OK);
    ASSERT_EQ(Object->QueryInterface(IID_IOPCBrowseServerAddressSpace,
                                     reinterpret_cast<void**>(Levels.GetAddressOf())),
              S_OK);
  }
  void TearDown() override {
    Levels.Reset();
    Elements.Reset();
    Control.Reset();
    Object.Reset();
    CoUninitialize();
  }
  TBrowsedTable Walk() {
    TBrowsedTable Table;
    Table.Result = TBrowseWalk(Levels.Get()).Run(Table.Tags);
    return Table;
  }
  TBrowsedTable BrowseElements() {
    TBrowsedTable Table;
    Table.Result = TElementBrowseWalk(Elements.Get()).Run(Table.Tags);
    return Table;
  }

  ComPtr<IUnknown> Object;
  ComPtr<IOpcSimControl> Control;
  ComPtr<IOPCBrowse> Elements;
  ComPtr<IOPCBrowseServerAddressSpace> Levels;
};

TEST_F(OPCBrowseLocalTest, PagedElementsCrossTheProcessBoundaryIntoTheSameTable) {
  ASSERT_EQ(Control->Configure(U16ToOle(EdgeTree)), S_OK);
  const TBrowsedTable Walked = Walk();
  ASSERT_EQ(Walked.Result, 0);
  ASSERT_EQ(Walked.Tags.size(), 16u);
  for (const char16_t* Faults :
       {u"{\"browsePageSize\": 1}", u"{\"browsePageSize\": 7}", u"{\"browsePageSize\": 0}"}) {
    SCOPED_TRACE(Narrow(Faults));
    ASSERT_EQ(Control->SetFaults(U16ToOle(Faults)), S_OK);
    ExpectSameTables(Walked, BrowseElements());
  }
}

// The plant, 2806 tags: one Browse call per level reached (refused ones included), where the
// other walk takes eight thousand calls and more.
TEST_F(OPCBrowseLocalTest, ThePlantTakesOneCallPerLevel) {
  ASSERT_EQ(Control->SetFaults(U16ToOle(u"{}")), S_OK);
  const TBrowsedTable Browsed = BrowseElements();
  ASSERT_EQ(Browsed.Result, 0);
  EXPECT_EQ(Browsed.Tags.size(), 2806u);
  const DWORD BrowseCalls = CallCount(Control.Get(), u"Browse");
  const DWORD BranchEntries = CallCount(Control.Get(), u"ChangeBrowsePosition");
  EXPECT_EQ(CallCount(Control.Get(), u"BrowseOPCItemIDs"), 0u);
  const TBrowsedTable Walked = Walk();
  ExpectSameTables(Walked, Browsed);
  // The other walk moves down into every branch it tries and back up from each it entered, so
  // it makes at least one move per level below the top.
  const DWORD Moves = CallCount(Control.Get(), u"ChangeBrowsePosition") - BranchEntries;
  EXPECT_GT(BrowseCalls, 100u);
  EXPECT_LE(BrowseCalls, 1 + Moves) << "one call per level at most";
  RecordProperty("BrowseCalls", static_cast<int>(BrowseCalls));
  RecordProperty("WalkMoves", static_cast<int>(Moves));
}

}  // namespace
