// The tag table through IOPCBrowse against the simulated server in this process: for every
// address space the tests use, the same table as the IOPCBrowseServerAddressSpace walk, entry by
// entry, at every page size; the walk falls back where the interface is missing or fails; a tree
// that links back to itself ends on both paths.
#include <gtest/gtest.h>

#include "BrowseTestSupport.h"
#ifndef _WIN32
#include "OpcSim.h"
#endif

namespace {

// A server definition under the plant's identity, with the given prefix and tree.
std::u16string Server(const std::u16string& Prefix, const std::u16string& Tree) {
  return u"{\"progId\": \"Tagrelay.OpcSim.1\", \"clsid\": "
         u"\"{12226D95-F79B-42B9-BF2E-69408C20B162}\", "
         u"\"itemPrefix\": \"" +
         Prefix + u"\", \"tree\": [" + Tree + u"]}";
}

struct TSpace {
  const char* Name;
  std::u16string Json;  // empty: the plant of the default configuration
};

const TSpace Spaces[] = {
    {"the plant", u""},
    {"edge tree with prefix, dotted leaf and refused branch",
     Server(u"[Dev]",
            uR"({"leaf": "Uptime", "type": "UI4", "access": "r"},
                {"branch": "Plant", "children": [
                  {"leaf": "Temp.PV", "type": "R8"},
                  {"branch": "Line2", "children": [{"leaf": "Temp", "access": "r"}]},
                  {"branch": "Locked", "refuseEntry": true, "children": [{"leaf": "Hidden"}]},
                  {"branch": "Line3", "children": [{"leaf": "Speed", "access": "w"}]}]})")},
    {"explicit item identifiers", Server(u"",
                                         uR"({"leaf": "A", "itemId": "PLC1:40001"},
                    {"branch": "B", "children": [{"leaf": "C", "itemId": "PLC1:40002", "access": "r"},
                                                 {"leaf": "D"}]})")},
    {"an item that has children is walked as a branch",
     Server(u"",
            uR"({"branch": "Motor", "isItem": true, "children": [
                      {"leaf": "Speed"}, {"branch": "Drive", "children": [{"leaf": "Amps"}]}]},
                    {"leaf": "Top", "access": "r"})")},
    {"empty server", Server(u"", u"")},
};

void MakeSimulatorAvailable() {
#ifndef _WIN32
  // Natively the simulator lives in this program with its default configuration; under Wine it
  // is the registered opcsim.dll.
  struct TNativeServers {
    opcsim::ClassObjectRegistration Registration;
    bool Ok = false;
    TNativeServers() {
      std::u16string Error;
      Ok = opcsim::LoadConfigFile(OPCSIM_DEFAULT_CONFIG, Error) &&
           SUCCEEDED(Registration.Register());
    }
  };
  static TNativeServers Servers;
  ASSERT_TRUE(Servers.Ok);
#endif
}

class OPCBrowseElementsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeSimulatorAvailable();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Control = OpenControl(PlantID);
    ASSERT_TRUE(Control);
  }
  void TearDown() override {
    if (Control) Control->Reset();
  }
  void Use(const TSpace& Space, const std::u16string& Faults) {
    ASSERT_EQ(Control->Reset(), S_OK);
    if (!Space.Json.empty()) {
      ASSERT_EQ(Control->Configure(U16ToOle(Space.Json)), S_OK);
    }
    ASSERT_EQ(Control->SetFaults(U16ToOle(Faults)), S_OK);
  }

  ComPtr<IOpcSimControl> Control;
};

TEST_F(OPCBrowseElementsTest, EveryAddressSpaceGivesTheSameTableAtEveryPageSize) {
  for (const TSpace& Space : Spaces) {
    SCOPED_TRACE(Space.Name);
    Use(Space, u"{}");
    const TBrowsedTable Walked = BrowseTable(PlantText, false);
    EXPECT_EQ(CallCount(Control.Get(), u"Browse"), 0u);
    for (int PageSize : {1, 7, 0}) {
      SCOPED_TRACE("page size " + std::to_string(PageSize));
      const std::string Size = std::to_string(PageSize);
      Use(Space, u"{\"browsePageSize\": " + std::u16string(Size.begin(), Size.end()) + u"}");
      const TBrowsedTable Browsed = BrowseTable(PlantText, true);
      EXPECT_GT(CallCount(Control.Get(), u"Browse"), 0u);
      EXPECT_EQ(CallCount(Control.Get(), u"BrowseOPCItemIDs"), 0u) << "no fallback";
      ExpectSameTables(Walked, Browsed);
    }
  }
}

// Spot checks of what both paths give: leaves before branches, the item with children left out,
// the refused branch left out, the explicit identifiers and the rights.
TEST_F(OPCBrowseElementsTest, TheTableHoldsWhatTheWalkLists) {
  Use(Spaces[3], u"{}");
  const TBrowsedTable Table = BrowseTable(PlantText, true);
  ASSERT_EQ(Table.Result, 3);
  EXPECT_EQ(Narrow(Table.Tags[0].SeparatorName), "Top");
  EXPECT_TRUE(Table.Tags[0].Readable);
  EXPECT_FALSE(Table.Tags[0].Writeable);
  EXPECT_EQ(Narrow(Table.Tags[1].SeparatorName), "Motor$#%Speed");
  EXPECT_EQ(Narrow(Table.Tags[2].SeparatorName), "Motor$#%Drive$#%Amps");

  Use(Spaces[1], u"{\"browsePageSize\": 1}");
  const TBrowsedTable Edge = BrowseTable(PlantText, true);
  ASSERT_EQ(Edge.Result, 4) << "the refused branch's leaf is left out";
  EXPECT_EQ(Narrow(Edge.Tags[1].SeparatorName), "[Dev]Plant$#%Temp.PV");
  EXPECT_EQ(Narrow(Edge.Tags[2].SeparatorName), "[Dev]Plant$#%Line2$#%Temp");
  EXPECT_EQ(Narrow(Edge.Tags[3].LinkName), "[Dev]Plant.Line3.Speed");
  EXPECT_FALSE(Edge.Tags[3].Readable);
  EXPECT_TRUE(Edge.Tags[3].Writeable);
}

// Where IOPCBrowse is missing or Browse fails, the other walk gives the table.
TEST_F(OPCBrowseElementsTest, FallsBackWhereBrowseIsMissingOrFails) {
  struct TCase {
    const char16_t* Faults;
    DWORD BrowseCalls;
  };
  const TCase Cases[] = {{u"{\"browseElementsMissing\": true}", 0},
                         {u"{\"browseElementsFails\": true}", 1}};
  Use(Spaces[1], u"{}");
  const TBrowsedTable Walked = BrowseTable(PlantText, false);
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Narrow(Case.Faults));
    Use(Spaces[1], Case.Faults);
    const TBrowsedTable Table = BrowseTable(PlantText, true);
    EXPECT_EQ(CallCount(Control.Get(), u"Browse"), Case.BrowseCalls);
    EXPECT_GT(CallCount(Control.Get(), u"BrowseOPCItemIDs"), 0u);
    ExpectSameTables(Walked, Table);
  }
}

// A tree that links back to itself, with two branches on every level: neither path enters a
// branch already on its way down, so both end at once with the same table.
TEST_F(OPCBrowseElementsTest, ATreeThatLinksBackToItselfEndsOnBothPaths) {
  const TSpace Looping{"looping", Server(u"",
                                         uR"({"leaf": "X"},
      {"branch": "A", "children": [{"leaf": "Y"}]}, {"branch": "B", "children": [{"leaf": "Z"}]})")};
  Use(Looping, u"{\"browseStuck\": true}");
  const TBrowsedTable Walked = BrowseTable(PlantText, false);
  EXPECT_EQ(Walked.Result, 5) << "X at the top, under A, A.B, B and B.A";
  Use(Looping, u"{\"browseStuck\": true}");
  const TBrowsedTable Browsed = BrowseTable(PlantText, true);
  ExpectSameTables(Walked, Browsed);
}

}  // namespace
