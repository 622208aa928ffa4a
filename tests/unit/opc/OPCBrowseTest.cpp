// The tag-table walk against the fake server: names fetched in batches give the same table in the
// same order, and a walk that would not end is cut off with -11.
#include "OPCBrowse.h"

#include <gtest/gtest.h>

#include <memory>

#include "FakeOPCServer.h"
#include "HashName.h"
#include "OPCServer.h"
#include "OPCTestSupport.h"

namespace {

const CLSID FakeID = {0x7A11E5E2, 0x1234, 0x4ABC, {0x9D, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};
const std::u16string FakeText = u"{7A11E5E2-1234-4ABC-9DEF-0123456789AB}";

std::u16string Numbered(const char16_t* Stem, int I) {
  std::u16string Text = Stem;
  const std::string Digits = std::to_string(1000 + I).substr(1);
  Text.append(Digits.begin(), Digits.end());
  return Text;
}

// Count leaves named L000, L001, ... with item identifiers Path.Lnnn and varying rights.
std::vector<TFakeLeaf> Leaves(const std::u16string& Path, int Count) {
  const DWORD Rights[] = {OPC_READABLE, OPC_WRITEABLE, OPC_READABLE | OPC_WRITEABLE};
  std::vector<TFakeLeaf> Out;
  for (int I = 0; I < Count; ++I) {
    const std::u16string Name = Numbered(u"L", I);
    Out.push_back({Name, Path.empty() ? Name : Path + u"." + Name, Rights[I % 3]});
  }
  return Out;
}

class OPCBrowseTest : public ::testing::Test {
 protected:
  void Start() {
    Registration = std::make_unique<TFakeRegistration>(FakeID, State);
    Server = std::make_unique<TOPCServer>(FakeText);
    ASSERT_EQ(Server->Init(u"sync", 500), 0);
  }
  void Stop() {
    Server.reset();
    Registration.reset();
    EXPECT_EQ(State->LiveObjects, 0);
  }
  void TearDown() override { Stop(); }
  // A second server object of the fake's, to browse directly.
  void NewBrowser(ComPtr<IOPCBrowseServerAddressSpace>& Browser) {
    ComPtr<IUnknown> Object;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(FakeID, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                           reinterpret_cast<void**>(Object.GetAddressOf()))));
    ASSERT_TRUE(SUCCEEDED(Object->QueryInterface(
        IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void**>(Browser.GetAddressOf()))));
  }

  std::shared_ptr<TFakeState> State = std::make_shared<TFakeState>();
  std::unique_ptr<TFakeRegistration> Registration;
  std::unique_ptr<TOPCServer> Server;
};

// 600 names end with an S_FALSE batch of 88, 256 with an empty S_FALSE batch after a full one;
// a level without leaves is not browsed with the access filters.
TEST_F(OPCBrowseTest, BatchesGiveTheWholeTableInWalkOrder) {
  TFakeBranch Deep{u"Deep", Leaves(u"Small.Deep", 300), {}};
  TFakeBranch Small{u"Small", Leaves(u"Small", 1), {Deep}};
  TFakeBranch Exact{u"Exact", Leaves(u"Exact", 256), {}};
  TFakeBranch Bare{u"Bare", {}, {}};
  State->Root = TFakeBranch{u"", Leaves(u"", 600), {Exact, Small, Bare}};
  Start();

  struct TLevel {
    std::u16string Path;
    int Count;
  };
  const TLevel Order[] = {{u"", 600}, {u"Exact", 256}, {u"Small", 1}, {u"Small.Deep", 300}};
  TItemsFullList Expected;
  for (const TLevel& Level : Order)
    for (const TFakeLeaf& Leaf : Leaves(Level.Path, Level.Count)) {
      TOPCItem Item;
      Item.LinkName = Leaf.ItemID;
      Item.SeparatorName = Leaf.ItemID;
      for (size_t At = 0; (At = Item.SeparatorName.find(u'.', At)) != std::u16string::npos;)
        Item.SeparatorName.replace(At, 1, u"$#%");
      Item.Readable = (Leaf.Rights & OPC_READABLE) != 0;
      Item.Writeable = (Leaf.Rights & OPC_WRITEABLE) != 0;
      Expected.push_back(Item);
    }

  ASSERT_EQ(Server->GetTagsList(), static_cast<int32_t>(Expected.size()));
  const TItemsFullList& Tags = Server->GetOPCTagsArr();
  ASSERT_EQ(Tags.size(), Expected.size());
  for (size_t I = 0; I < Tags.size(); ++I) {
    ASSERT_EQ(Narrow(Tags[I].LinkName), Narrow(Expected[I].LinkName)) << I;
    EXPECT_EQ(Narrow(Tags[I].SeparatorName), Narrow(Expected[I].SeparatorName)) << I;
    EXPECT_EQ(Tags[I].HashName, MakeHashName(Expected[I].SeparatorName)) << I;
    EXPECT_EQ(Tags[I].Readable, Expected[I].Readable) << I;
    EXPECT_EQ(Tags[I].Writeable, Expected[I].Writeable) << I;
  }
  EXPECT_EQ(State->LargestNext, TBrowseWalk::BatchSize);
  // Per enumeration: its full batches and one S_FALSE batch (leaves with no, the readable and
  // the writeable filter, then the branches).
  auto Batches = [](int Names) { return Names / 256 + 1; };
  int Calls = 0;
  for (const TLevel& Level : Order) {
    const int Readable = Level.Count - (Level.Count + 1) / 3;  // rights cycle r, w, rw
    const int Writeable = Level.Count - (Level.Count + 2) / 3;
    Calls += Batches(Level.Count) + Batches(Readable) + Batches(Writeable);
  }
  Calls += Batches(3) + Batches(0) + Batches(1) + Batches(0);
  Calls += Batches(0) + Batches(0);  // Bare: its leaves and its branches, both none
  EXPECT_EQ(State->NextCalls, Calls);
}

// A walk that would not end: -11, nothing kept, and the next walk of a sound tree succeeds.
TEST_F(OPCBrowseTest, WalkBeyondItsBoundsEndsInMinus11) {
  struct TCase {
    const char* Name;
    int Nesting;  // branches nested below the starting level, one leaf on each level
    bool Stuck;
    int32_t Result;
  };
  const TCase Cases[] = {
      {"deepest level allowed", TBrowseWalk::MaxDepth - 1, false, TBrowseWalk::MaxDepth},
      {"one level too deep", TBrowseWalk::MaxDepth, false, -11},
      {"position never moves", 1, true, -11},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    State = std::make_shared<TFakeState>();
    TFakeBranch Chain{u"B", {{u"X", u"X"}}, {}};
    for (int I = 1; I < Case.Nesting; ++I) Chain = TFakeBranch{u"B", {{u"X", u"X"}}, {Chain}};
    State->Root = TFakeBranch{u"", {{u"X", u"X"}}, {Chain}};
    State->StuckPosition = Case.Stuck;
    Start();
    EXPECT_EQ(Server->GetTagsList(), Case.Result);
    if (Case.Result < 0) {
      EXPECT_TRUE(Server->GetOPCTagsArr().empty());
    }
    if (Case.Stuck) {
      State->StuckPosition = false;
      EXPECT_EQ(Server->GetTagsList(), Case.Nesting + 1) << "the position was left at the start";
    }
    Stop();
  }
}

// A wide tree that seems to repeat itself without end, two branches and 100 leaves on every
// level, from a server that names none of its branches (so no repeat can be seen on the path):
// the walk ends when its budget of levels and tags is spent, long before the depth bound, with
// -11 and nothing appended, after calls in proportion to the budget.
TEST_F(OPCBrowseTest, ALoopingTreeWithTwoBranchesEndsWithinTheBudget) {
  TFakeBranch Left{u"L", {{u"X", u"X"}}, {}};
  TFakeBranch Right{u"R", {{u"X", u"X"}}, {}};
  State->Root = TFakeBranch{u"", Leaves(u"", 100), {Left, Right}};
  State->StuckPosition = true;
  Start();
  ComPtr<IOPCBrowseServerAddressSpace> Browser;
  ASSERT_NO_FATAL_FAILURE(NewBrowser(Browser));
  for (size_t Budget : {size_t{1000}, size_t{5000}}) {
    SCOPED_TRACE(Budget);
    TItemsFullList Items(1);  // what was there before the walk stays
    const int CallsBefore = State->Calls;
    EXPECT_EQ(TBrowseWalk(Browser.Get(), Budget).Run(Items), -11);
    EXPECT_EQ(Items.size(), 1u);
    // Each level costs 101 of the budget (itself and its tags) and about 110 calls.
    EXPECT_LT(State->Calls - CallsBefore, static_cast<int>(Budget) * 2);
  }
}

// A walk cut short by an exception leaves no table and the browse position where it started: the
// next GetTagsList walks again and gives the whole table, not the part the first walk had built.
TEST_F(OPCBrowseTest, AWalkEndedByAnExceptionLeavesNoTable) {
  State->Root = TFakeBranch{u"", Leaves(u"", 5), {TFakeBranch{u"B", Leaves(u"B", 5), {}}}};
  State->ItemIDsBeforeThrow = 7;
  Start();
  EXPECT_THROW(Server->GetTagsList(), std::bad_alloc);
  EXPECT_TRUE(Server->GetOPCTagsArr().empty());
  State->ItemIDsBeforeThrow = -1;
  EXPECT_EQ(Server->GetTagsList(), 10);
}

// An enumeration that never ends is read up to the limit, in order, and reported as too long.
TEST_F(OPCBrowseTest, EndlessEnumerationStopsAtLimit) {
  State->Root = TFakeBranch{u"", Leaves(u"", 3), {}};
  State->EndlessEnums = true;
  Start();
  ComPtr<IOPCBrowseServerAddressSpace> Browser;
  ASSERT_NO_FATAL_FAILURE(NewBrowser(Browser));
  ComPtr<IEnumString> Enum;
  ASSERT_TRUE(SUCCEEDED(
      Browser->BrowseOPCItemIDs(OPC_LEAF, OleArg(u""), VT_EMPTY, 0, Enum.GetAddressOf())));
  std::vector<std::u16string> Names;
  EXPECT_FALSE(ReadEnumNames(Enum.Get(), 1000, Names));
  ASSERT_EQ(Names.size(), 1000u);
  EXPECT_EQ(Narrow(Names[0]), "L000");
  EXPECT_EQ(Narrow(Names[998]), "L002");
  EXPECT_EQ(Narrow(Names[999]), "L000");

  State->EndlessEnums = false;
  Enum.Reset();
  ASSERT_TRUE(SUCCEEDED(
      Browser->BrowseOPCItemIDs(OPC_LEAF, OleArg(u""), VT_EMPTY, 0, Enum.GetAddressOf())));
  EXPECT_TRUE(ReadEnumNames(Enum.Get(), 3, Names)) << "exactly at the limit is not too long";
  EXPECT_EQ(Names.size(), 3u);
}

}  // namespace
