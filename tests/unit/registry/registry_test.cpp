// Read access to HKEY_LOCAL_MACHINE: the same cases run against the in-memory tree natively and
// against the real registry under Wine.
#include <gtest/gtest.h>

#include "Registry.h"
#include "RegistryFill.h"
#ifndef _WIN32
#include "RegistryStandIn.h"
#endif

namespace {

const std::u16string Root = u"Software\\TagrelayRegistryTest";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { RegistryFill::DeleteKey(Root); }
  void TearDown() override { RegistryFill::DeleteKey(Root); }
};

TEST_F(RegistryTest, OpensExistingKeysOnlyAndWithoutRegardToCase) {
  EXPECT_EQ(TRegKey::Open(Root), nullptr);
  ASSERT_TRUE(RegistryFill::CreateKey(Root + u"\\Mixed.Case"));
  EXPECT_EQ(TRegKey::Open(Root + u"\\Missing"), nullptr);
  EXPECT_NE(TRegKey::Open(Root + u"\\Mixed.Case"), nullptr);
  EXPECT_NE(TRegKey::Open(u"SOFTWARE\\tagrelayregistrytest\\MIXED.case"), nullptr);
}

TEST_F(RegistryTest, ListsDirectSubkeysInCaseBlindAlphabeticalOrder) {
  for (const char16_t* Name : {u"beta", u"Alpha", u"gamma", u"Delta"})
    ASSERT_TRUE(RegistryFill::CreateKey(Root + u"\\" + Name));
  ASSERT_TRUE(RegistryFill::CreateKey(Root + u"\\beta\\Nested"));
  auto Key = TRegKey::Open(Root);
  ASSERT_NE(Key, nullptr);
  EXPECT_EQ(Key->SubKeyNames(),
            (std::vector<std::u16string>{u"Alpha", u"beta", u"Delta", u"gamma"}));
  EXPECT_TRUE(TRegKey::Open(Root + u"\\gamma")->SubKeyNames().empty());
}

TEST_F(RegistryTest, DefaultValueComesBackWithItsTypeAndBytes) {
  const std::u16string Path = Root + u"\\Values";
  ASSERT_TRUE(RegistryFill::CreateKey(Path));
  EXPECT_FALSE(TRegKey::Open(Path)->DefaultValue().has_value());

  struct Case {
    uint32_t Type;
    std::vector<uint8_t> Data;
  };
  const Case Cases[] = {
      {RegSz, RegistryFill::Utf16Bytes(std::u16string(u"{AB}\0x\0", 7))},
      {RegExpandSz, RegistryFill::Utf16Bytes(u"%X%")},
      {RegSz, {}},
      {RegDword, {1, 2, 3, 4}},
      {RegBinary, {0xFF}},
  };
  for (const auto& C : Cases) {
    ASSERT_TRUE(RegistryFill::SetDefaultValue(Path, C.Type, C.Data));
    auto Value = TRegKey::Open(Path)->DefaultValue();
    ASSERT_TRUE(Value.has_value());
    EXPECT_EQ(Value->Type, C.Type);
    EXPECT_EQ(Value->Data, C.Data);
  }
}

// A registry that answers by index from a script: the names it holds, then Rc for every later
// index; names longer than the buffer get MoreData.
struct TScriptedKey {
  std::vector<std::u16string> Names;
  long Rc = RegEnum::NoMoreItems;
  int Calls = 0;
  long operator()(uint32_t Index, size_t Capacity, std::u16string& Name) {
    ++Calls;
    if (Index >= Names.size()) return Rc;
    if (Names[Index].size() + 1 > Capacity) return RegEnum::MoreData;
    Name = Names[Index];
    return RegEnum::Success;
  }
};

TEST(CollectSubKeyNamesTest, EndsAtTheFirstResultThatIsNeitherSuccessNorMoreData) {
  const std::u16string Long(300, u'x');
  struct Case {
    long Rc;
    std::vector<std::u16string> Names;
  };
  const Case Cases[] = {
      {RegEnum::NoMoreItems, {u"a", u"b", u"c"}},
      {RegEnum::KeyDeleted, {u"a"}},  // repeats for every index: must still end
      {RegEnum::KeyDeleted, {}},
      {5 /* access denied */, {u"a", u"b"}},
      {RegEnum::MoreData, {u"a"}},  // too long at any size: ends once the buffer is at its limit
      {RegEnum::NoMoreItems, {u"a", Long, u"b"}},  // a long name grows the buffer
  };
  for (const Case& C : Cases) {
    TScriptedKey Key{C.Names, C.Rc};
    EXPECT_EQ(CollectSubKeyNames(std::ref(Key), 256), C.Names) << C.Rc;
    EXPECT_LT(Key.Calls, 100) << C.Rc;
  }
}

TEST(CollectSubKeyNamesTest, NeverReadsPastTheBound) {
  int Calls = 0;
  auto Endless = [&](uint32_t, size_t, std::u16string& Name) {
    ++Calls;
    Name.assign(1, u'k');  // not = u"k": GCC 12 warns falsely (-Wrestrict) on that here
    return RegEnum::Success;
  };
  EXPECT_EQ(CollectSubKeyNames(Endless, 256, 1000).size(), 1000u);
  EXPECT_EQ(Calls, 1000);
}

#ifndef _WIN32
TEST_F(RegistryTest, AnEnumerationFaultEndsTheListingWhereItStarts) {
  for (const char16_t* Name : {u"a", u"b", u"c"})
    ASSERT_TRUE(RegistryFill::CreateKey(Root + u"\\" + Name));
  RegistryStandIn::SetEnumFault(Root, RegEnum::KeyDeleted, 2);
  EXPECT_EQ(TRegKey::Open(Root)->SubKeyNames(), (std::vector<std::u16string>{u"a", u"b"}));
  RegistryStandIn::SetEnumFault(Root, RegEnum::MoreData, 0);
  EXPECT_TRUE(TRegKey::Open(Root)->SubKeyNames().empty());
  RegistryStandIn::SetEnumFault(Root, RegEnum::Success);
  EXPECT_EQ(TRegKey::Open(Root)->SubKeyNames().size(), 3u);
}

TEST_F(RegistryTest, RefusedKeysDoNotOpenAndOpenHandlesOutliveDeletion) {
  ASSERT_TRUE(RegistryFill::SetDefaultString(Root + u"\\Kept", u"v"));
  RegistryStandIn::SetOpenRefused(Root + u"\\Locked", true);
  EXPECT_EQ(TRegKey::Open(Root + u"\\Locked"), nullptr);
  EXPECT_EQ(TRegKey::Open(Root)->SubKeyNames(), (std::vector<std::u16string>{u"Kept", u"Locked"}));

  auto Kept = TRegKey::Open(Root + u"\\Kept");
  RegistryFill::DeleteKey(Root);
  EXPECT_EQ(TRegKey::Open(Root + u"\\Kept"), nullptr);
  ASSERT_TRUE(Kept->DefaultValue().has_value());
  EXPECT_EQ(Kept->DefaultValue()->Data, RegistryFill::Utf16Bytes(std::u16string(u"v\0", 2)));
}
#endif

}  // namespace
