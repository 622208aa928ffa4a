// Native only: the configuration reader of the simulator's core.
#include "SimConfig.h"
#include "SimTestSupport.h"

namespace simtest {
namespace {

TEST(SimConfig, DefaultFileHoldsAPlantAndAnEdgeServer) {
  std::u16string text, error;
  ASSERT_TRUE(opcsim::ReadTextFile(OPCSIM_TEST_CONFIG, text));
  std::vector<opcsim::SimServerDef> servers;
  ASSERT_TRUE(opcsim::ParseConfig(text, servers, error)) << Narrow(error);
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(servers[0].progId, u"Tagrelay.OpcSim.1");
  EXPECT_TRUE(IsEqualCLSID(servers[0].clsid, kPlantServer));
  EXPECT_EQ(servers[0].space->LeafCount(), kPlantLeaves);
  ASSERT_TRUE(servers[0].space->FindItem(u"Plant.Area5.Line5.Pump12.Mode"));
  ASSERT_TRUE(servers[1].space->FindItem(u"[Dev]Plant.Line2.Temp"));
}

TEST(SimConfig, CountsExpandNamesAndErrorsAreReported) {
  const char16_t* good =
      uR"({"servers": [{"progId": "A", "clsid": "{11111111-2222-3333-4444-555555555555}",
          "tree": [{"branch": "B{n}", "count": 2, "children": [
                     {"leaf": "L{nn}", "count": 10, "type": "UI2", "change": "counter"}]}]}]})";
  std::vector<opcsim::SimServerDef> servers;
  std::u16string error;
  ASSERT_TRUE(opcsim::ParseConfig(good, servers, error)) << Narrow(error);
  EXPECT_EQ(servers[0].space->LeafCount(), 20u);
  EXPECT_TRUE(servers[0].space->FindItem(u"B2.L09"));
  EXPECT_EQ(servers[0].space->FindItem(u"B2.L10")->type, VT_UI2);

  const char16_t* bad[] = {
      u"{}",
      uR"({"servers": [{"progId": "A", "clsid": "nope", "tree": []}]})",
      uR"({"servers": [{"progId": "A", "clsid": "{11111111-2222-3333-4444-555555555555}",
           "tree": [{"leaf": "X", "type": "R16"}]}]})",
      uR"({"servers": [{"progId": "A", "clsid": "{11111111-2222-3333-4444-555555555555}",
           "tree": [{"leaf": "X"}, {"leaf": "Y", "itemId": "X"}]}]})",
      uR"({"servers": [{"progId": "A", "clsid": "{11111111-2222-3333-4444-555555555555}",
           "tree": [{"leaf": "X", "type": "I1", "value": 300}]}]})",
  };
  for (const char16_t* text : bad) {
    error.clear();
    EXPECT_FALSE(opcsim::ParseConfig(text, servers, error)) << Narrow(text);
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace simtest
