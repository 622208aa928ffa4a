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

#ifndef _WIN32
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
