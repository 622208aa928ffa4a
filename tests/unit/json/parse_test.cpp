#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "JSON.h"

namespace {

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (const char16_t c : s) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\u" + std::to_string(static_cast<unsigned>(c));
    }
  }
  return out;
}

// A literal with its embedded NUL code units.
template <std::size_t N>
std::u16string Raw(const char16_t (&s)[N]) {
  return std::u16string(s, N - 1);
}

// Parses and generates again: the parsed document in compact text, or "absent".
std::u16string Reparse(std::u16string_view text) {
  const TqvJSONptr doc = TqvJSON::ParseText(text);
  return doc ? TqvJSON::GenerateText(doc.get()) : u"absent";
}

TEST(JSONParse, TextsThatGiveAbsent) {
  const std::vector<std::u16string> texts = {
      u"",
      u"   ",
      u"nul",
      u"{",
      u"[1,,2]",
      u"[,1]",
      u"True",
      u"NULL",
      u"'x'",
      u"\"abc",
      u"\"abc\\\"",
      u"1.",
      u".5",
      u"-",
      u"+",
      u"1e",
      u"1e+",
      u"-.5",
      u"1e5000",
      u"-1e5000",
      u"[1e5000]",
      u"{\"a\":1e5000}",
      u"[1",
      u"[1,2",
      u"{\"a\"}",
      u"{\"a\":}",
      u"{\"a\" 1}",
      u"{,}",
      u"{a:1}",
      u"{\"a\":1,,}",
      u"]",
      u"}",
      u"\"\\u12G4\"",
      u"\"\\u\"",
      u"\"\\uZ\"",
      u"[\"\\u\"]",
      u"{\"\\u\":1}",
      u"\"a\\u",
      u"\uFEFF{}",
      u"\u043F\u00BB\u0457",
      u" \u043F\u00BB\u0457{}",
      u"\u043F\u00BB{}",
  };
  for (const auto& t : texts) {
    EXPECT_EQ(TqvJSON::ParseText(t), nullptr) << Narrow(t);
  }
}

TEST(JSONParse, AcceptedTextsAndWhatTheyRead) {
  struct Case {
    std::u16string text;
    std::u16string generated;
  };
  const std::vector<Case> cases = {
      // What follows the first value is ignored.
      {u"{\"a\":1} trailing", u"{\"a\":1}"},
      {u"  [true]", u"[true]"},
      {u"7", u"7"},
      {u"\"x\"", u"\"x\""},
      {u"1 2", u"1"},
      {u"truex", u"true"},
      {u"nullnull", u"null"},
      {u"false,", u"false"},
      {u"1.5.3", u"1.5"},
      {u"0x10", u"0"},
      {u"1e5x", u"100000"},
      // Numbers.
      {u"+5", u"5"},
      {u"-0", u"0"},
      {u"007", u"7"},
      {u"-12.50", u"-12.5"},
      {u"1E+2", u"100"},
      {u"2.5e-1", u"0.25"},
      {u"1e-5000", u"0"},
      {u"123456789012345678901234567890", u"1.23456789012346E29"},
      {u"[1e4932]", u"[1E4932]"},
      // Lists: commas may be missing or trail.
      {u"[]", u"[]"},
      {u"[ ]", u"[]"},
      {u"[1 2]", u"[1,2]"},
      {u"[1,2,]", u"[1,2]"},
      {u"[[],[[]],{}]", u"[[],[[]],{}]"},
      {u"[\"a\"\"b\"]", u"[\"a\",\"b\"]"},
      // Objects, likewise.
      {u"{}", u"{}"},
      {u"{\"a\":1,}", u"{\"a\":1}"},
      {u"{\"a\":1 \"b\":2}", u"{\"a\":1,\"b\":2}"},
      {u"{ \"a\" : [ 1 , { } ] }", u"{\"a\":[1,{}]}"},
      {u"{\"a\":1,\"a\":2}", u"{\"a\":1,\"a\":2}"},
      {u"{\"\":0}", u"{\"\":0}"},
      // Every code unit up to U+0020 is a blank.
      {Raw(u"\x01[\x00true\x1F,\x0B"
           u"null\x7F]"),
       u"absent"},
      {Raw(u"\x01[\x00true\x1F,\x0B"
           u"null]"),
       u"[true,null]"},
      // The misread UTF-8 byte order mark is skipped at the very start only.
      {u"\u043F\u00BB\u0457{}", u"{}"},
      {u"\u043F\u00BB\u0457 [1]", u"[1]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Reparse(c.text), c.generated) << Narrow(c.text);
  }
}

TEST(JSONParse, RootKinds) {
  EXPECT_EQ(TqvJSON::ParseText(u"{\"a\":1} trailing")->SelfType(), jsObject);
  EXPECT_EQ(TqvJSON::ParseText(u"  [true]")->Count(), 1);
  EXPECT_EQ(TqvJSON::ParseText(u"7")->SelfType(), jsNumber);
  EXPECT_EQ(TqvJSON::ParseText(u"\"x\"")->SelfType(), jsString);
  EXPECT_EQ(TqvJSON::ParseText(u"null")->SelfType(), jsNull);
  EXPECT_EQ(TqvJSON::ParseText(u"false")->SelfType(), jsBoolean);
  const TqvJSONptr obj = TqvJSON::ParseText(u"{\"k\":{}}");
  ASSERT_NE(obj->As<TqvJSONobject>(), nullptr);
  EXPECT_TRUE(obj->As<TqvJSONobject>()->UseHash());
  EXPECT_TRUE(obj->As<TqvJSONobject>()->OldGetField(u"k")->As<TqvJSONobject>()->UseHash());
}

TEST(JSONParse, StringEscapes) {
  struct Case {
    std::u16string text;
    std::u16string value;
  };
  const std::vector<Case> cases = {
      {u"\"\\u0041\"", u"A"},
      {u"\"\\u00e9\"", u"\u00e9"},
      {u"\"\\u00E9\"", u"\u00e9"},
      {u"\"\\x41\"", u"41"},
      {u"\"\\q\"", u""},
      {u"\"a\\\"b\"", u"a\"b"},
      {u"\"a\\\\\"", u"a\\"},
      {u"\"\\/\\'\"", u"/'"},
      {u"\"\\b\\f\\n\\r\\t\"", u"\b\f\n\r\t"},
      {u"\"\\u41\"", u"A"},  // fewer than four digits where the content ends
      {u"\"\\u004\"", std::u16string(1, u'\x04')},
      {u"\"\\u00411\"", u"A1"},
      {u"\"\\uD83D\\uDE00\"", u"\U0001F600"},
      {u"\"\\uD800\"", std::u16string(1, char16_t(0xD800))},
      {u"\"\\u0000\"", std::u16string(1, u'\0')},
      {u"\"line\nfeed\ttab\"", u"line\nfeed\ttab"},
      {u"\"\u00e9\u0416\U0001F600\"", u"\u00e9\u0416\U0001F600"},
      {u"\"\xDC00\"", std::u16string(1, char16_t(0xDC00))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    const TqvJSONptr doc = TqvJSON::ParseText(c.text);
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(doc->SelfType(), jsString);
    EXPECT_EQ(static_cast<TqvJSONstring*>(doc.get())->Text(), c.value);
  }
  // Field names decode the same way.
  const TqvJSONptr obj = TqvJSON::ParseText(u"{\"\\u0041\":1}");
  EXPECT_EQ(obj->As<TqvJSONobject>()->FieldNameAt(0), u"A");
  EXPECT_EQ(obj->As<TqvJSONobject>()->getInt(u"A"), 1);
}

TEST(JSONParse, RepeatedNamesKeepBothFields) {
  const TqvJSONptr doc = TqvJSON::ParseText(u"{\"a\":1,\"a\":2}");
  auto* obj = doc->As<TqvJSONobject>();
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->Count(), 2);
  EXPECT_EQ(obj->getInt(u"a"), 1);
  EXPECT_EQ(obj->getInt(1), 1) << "the second field reads through its name";
  EXPECT_EQ(TqvJSON::GenerateText(obj), u"{\"a\":1,\"a\":2}");
}

TEST(JSONParse, RequestLineAsTheRouterReadsIt) {
  const TqvJSONptr doc = TqvJSON::ParseText(
      u"{\"cmd\":\"getValues\",\"OPCServerID\":\"{6E6170F0-FF2D-11D2-8087-00105AA8F840}\","
      u"\"TransID\":17,\"tagNames\":[\"a1\",\"b2\"]}\r");
  auto* obj = doc->As<TqvJSONobject>();
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->getString(obj->IndexOfName(u"cmd")), u"getValues");
  EXPECT_EQ(obj->getInt(obj->IndexOfName(u"TransID")), 17);
  EXPECT_EQ(obj->getString(u"OPCServerID"), u"{6E6170F0-FF2D-11D2-8087-00105AA8F840}");
  auto* names = obj->OldGetField(u"tagNames")->As<TqvJSONlist>();
  ASSERT_NE(names, nullptr);
  ASSERT_EQ(names->Count(), 2);
  EXPECT_EQ(names->getString(1), u"b2");
  EXPECT_EQ(obj->OldGetField(u"syncMode"), nullptr);
}

// Concatenation by appending (g++ 12 warns falsely on some operator+ chains of strings).
std::u16string Cat(std::initializer_list<std::u16string_view> parts) {
  std::u16string s;
  for (const auto p : parts) s.append(p);
  return s;
}

std::u16string Nested(int depth, char16_t open, char16_t close, std::u16string_view inner) {
  return std::u16string(static_cast<std::size_t>(depth), open) + std::u16string(inner) +
         std::u16string(static_cast<std::size_t>(depth), close);
}

TEST(JSONParse, NestingIsBoundedAt512Levels) {
  EXPECT_NE(TqvJSON::ParseText(Nested(TqvJSON::kMaxDepth, u'[', u']', u"1")), nullptr);
  EXPECT_EQ(TqvJSON::ParseText(Nested(TqvJSON::kMaxDepth + 1, u'[', u']', u"1")), nullptr);
  EXPECT_EQ(TqvJSON::ParseText(Nested(100000, u'[', u']', u"")), nullptr);

  std::u16string objects;
  for (int i = 0; i < TqvJSON::kMaxDepth; ++i) objects += u"{\"a\":";
  objects += u"0" + std::u16string(TqvJSON::kMaxDepth, u'}');
  EXPECT_NE(TqvJSON::ParseText(objects), nullptr);
  EXPECT_EQ(TqvJSON::ParseText(Cat({u"[", objects, u"]"})), nullptr);

  // Depth counts nesting, not the number of containers: many siblings are fine.
  std::u16string siblings = u"[";
  for (int i = 0; i < 2000; ++i) siblings += u"[[]],";
  siblings += u"]";
  const TqvJSONptr doc = TqvJSON::ParseText(siblings);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->Count(), 2000);
}

TEST(JSONParse, FailuresDeepInsideFreeWhatWasBuilt) {
  // Run under LeakSanitizer in the native build: each failure path must free the partial tree.
  const std::vector<std::u16string> texts = {
      u"{\"a\":[1,2,{\"b\":\"x\"}, {\"c\":[\"\\u12G4\"]}]}",
      u"[{\"a\":[1,2,3]},{\"b\":{\"c\":1e9999}}]",
      u"{\"a\":{\"b\":[\"unterminated]}}",
      u"[[[[{\"a\":1,\"b\":[1,2,3,",
      Cat({u"[", Nested(600, u'{', u'}', u""), u"]"}),
      Cat({u"{\"x\":[\"", std::u16string(1000, u'y'), u"\",", Nested(700, u'[', u']', u""), u"]}"}),
  };
  for (const auto& t : texts) EXPECT_EQ(TqvJSON::ParseText(t), nullptr);
}

}  // namespace
