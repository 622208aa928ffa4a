#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "JSON.h"

namespace {

std::u16string GenerateString(const std::u16string& s) {
  const auto v = TqvJSONstring::Generate(s);
  return TqvJSON::GenerateText(v.get());
}

TEST(JSONGenerate, CompactObjectWithEveryKind) {
  TqvJSONobject obj(true);
  obj.Add(u"s", u"a\"b");
  obj.Add(u"i", 42);
  obj.Add(u"d", 2.5);
  obj.Add(u"b", true);
  obj.Add(u"n", std::make_unique<TqvJSONnull>());
  auto l = TqvJSONlist::Generate();
  l->Add(1);
  l->Add(u"x");
  obj.Add(u"l", std::move(l));
  EXPECT_EQ(TqvJSON::GenerateText(&obj),
            u"{\"s\":\"a\\\"b\",\"i\":42,\"d\":2.5,\"b\":true,\"n\":null,\"l\":[1,\"x\"]}");

  TqvJSONobject ping(true);
  ping.Add(u"cmd", u"ping");
  ping.Add(u"TransID", 7);
  EXPECT_EQ(TqvJSON::GenerateText(&ping), u"{\"cmd\":\"ping\",\"TransID\":7}");
}

TEST(JSONGenerate, SmallAndOddValues) {
  EXPECT_EQ(TqvJSON::GenerateText(nullptr), u"");
  EXPECT_EQ(TqvJSON::GenerateText(TqvJSONlist::Generate().get()), u"[]");
  EXPECT_EQ(TqvJSON::GenerateText(TqvJSONobject::Generate(true).get()), u"{}");
  EXPECT_EQ(TqvJSON::GenerateText(TqvJSONboolean::Generate(false).get()), u"false");
  TqvJSONbase base;
  EXPECT_EQ(TqvJSON::GenerateText(&base), u"");
  // A lone pair writes name and value; an absent value writes nothing after the colon.
  const auto pair = TqvJSONobjectmethod::Generate(u"k", TqvJSONnumber::Generate(1));
  EXPECT_EQ(TqvJSON::GenerateText(pair.get()), u"\"k\":1");
  const auto empty = TqvJSONobjectmethod::Generate(u"k", nullptr);
  EXPECT_EQ(TqvJSON::GenerateText(empty.get()), u"\"k\":");
  // Names are escaped like string values.
  TqvJSONobject obj(false);
  obj.Add(u"a/b\n", 1);
  EXPECT_EQ(TqvJSON::GenerateText(&obj), u"{\"a\\/b\\n\":1}");
}

TEST(JSONGenerate, StringEscaping) {
  struct Case {
    std::u16string value;
    std::u16string text;
  };
  const std::vector<Case> cases = {
      {u"/", u"\"\\/\""},
      {u"\\", u"\"\\\\\""},
      {u"\"", u"\"\\\"\""},
      {u"\n", u"\"\\n\""},
      {u"\b\t\f\r", u"\"\\b\\t\\f\\r\""},
      {u"\x01", u"\"\\u0001\""},
      {u"\x1F", u"\"\\u001F\""},
      {u"\x1A", u"\"\\u001A\""},
      {std::u16string(1, u'\0'), u"\"\\u0000\""},
      {u"\x0B", u"\"\\u000B\""},
      {u" ~\x7F", u"\" ~\x7F\""},
      {u"'", u"\"'\""},
      {u"\u00e9", u"\"\u00e9\""},
      {u"\u041F\u0440\u0438\u0432\u0435\u0442", u"\"\u041F\u0440\u0438\u0432\u0435\u0442\""},
      {u"\U0001F600", u"\"\U0001F600\""},
      {u"\uFFFF\uE000", u"\"\uFFFF\uE000\""},
      // Lone surrogates have no UTF-8 form; each becomes U+FFFD.
      {std::u16string(1, char16_t(0xD800)), u"\"\uFFFD\""},
      {std::u16string(1, char16_t(0xDC00)), u"\"\uFFFD\""},
      {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, u"\"\uFFFD\uFFFD\""},
      {std::u16string{u'a', char16_t(0xD83D), u'b'}, u"\"a\uFFFDb\""},
      {std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)},
       u"\"\uFFFD\U0001F600\""},
      {u"", u"\"\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GenerateString(c.value), c.text) << std::string(c.text.begin(), c.text.end());
  }
}

TEST(JSONGenerate, LargeOutputGrowsTheBuffer) {
  TqvJSONlist list;
  const std::u16string item(97, u'x');
  for (int i = 0; i < 3000; ++i) list.Add(item);
  const std::u16string text = TqvJSON::GenerateText(&list);
  EXPECT_EQ(text.size(), 2 + 3000 * 99 + 2999u);
  EXPECT_EQ(text.substr(0, 3), u"[\"x");
  EXPECT_EQ(text.substr(text.size() - 3), u"x\"]");
}

// A getValues answer as the router builds it.
std::unique_ptr<TqvJSONobject> ValuesAnswer(int tags) {
  auto answer = TqvJSONobject::Generate(true);
  answer->Add(u"cmd", u"getValues");
  answer->Add(u"OPCServerID", u"{6E6170F0-FF2D-11D2-8087-00105AA8F840}");
  answer->Add(u"TransID", 12345);
  auto names = TqvJSONlist::Generate();
  auto values = TqvJSONlist::Generate();
  auto qualities = TqvJSONlist::Generate();
  for (int i = 0; i < tags; ++i) {
    names->Add(u"Channel1.Device1.Tag" + std::u16string(1, char16_t(u'A' + i % 26)));
    values->Add(i % 3 == 0 ? u"12,5" : u"\u0442\u0435\u043A\u0441\u0442 \"q\"\\/");
    qualities->Add(i % 7 == 0 ? u"0" : u"1");
  }
  answer->Add(u"tagNames", std::move(names));
  answer->Add(u"values", std::move(values));
  answer->Add(u"qualities", std::move(qualities));
  return answer;
}

TEST(JSONRoundTrip, GeneratedTextParsesToTheSameDocument) {
  const auto answer = ValuesAnswer(50);
  const std::u16string text = TqvJSON::GenerateText(answer.get());
  const TqvJSONptr parsed = TqvJSON::ParseText(text);
  ASSERT_NE(parsed, nullptr);
  EXPECT_EQ(TqvJSON::GenerateText(parsed.get()), text);
  auto* obj = parsed->As<TqvJSONobject>();
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->getInt(u"TransID"), 12345);
  auto* values = obj->OldGetField(u"values")->As<TqvJSONlist>();
  ASSERT_EQ(values->Count(), 50);
  EXPECT_EQ(values->getString(1), u"\u0442\u0435\u043A\u0441\u0442 \"q\"\\/");
}

TEST(JSONRoundTrip, CanonicalTextsComeBackUnchanged) {
  const std::vector<std::u16string> texts = {
      u"{\"cmd\":\"serverOnline\",\"uid\":\"x\",\"TransID\":0,\"ListServers\":[{\"id\":\"{A}\","
      u"\"name\":\"Sim.1\"}]}",
      u"{\"cmd\":\"getTags\",\"TransID\":3,\"OPCServerID\":\"{A}\",\"ListTags\":[{\"name\":\"a.b\","
      u"\"hash\":\"0cc175b9c0f1b6a831c399e269772661\",\"readable\":true,\"writeable\":false}]}",
      u"[1,-2.5,0.001,1E-5,1.23456789012346E17,\"\\u0001\\\"\\\\\\/\",true,false,null,[],{}]",
      u"{\"\":{\"\":[]}}",
      u"{\"a\":1,\"a\":\"dup\"}",
  };
  for (const auto& t : texts) {
    const TqvJSONptr doc = TqvJSON::ParseText(t);
    ASSERT_NE(doc, nullptr) << std::string(t.begin(), t.end());
    EXPECT_EQ(TqvJSON::GenerateText(doc.get()), t);
  }
}

TEST(JSONRoundTrip, NumbersKeepTheirFifteenDigits) {
  for (const long double v : {0.1L, 1.0L / 3.0L, 6.02214076e23L, -1.602176634e-19L, 1e-300L,
                              4.9e-324L, 1.7976931348623157e308L, 1e4000L, 1e-4000L}) {
    const auto n = TqvJSONnumber::Generate(v);
    const std::u16string text = TqvJSON::GenerateText(n.get());
    const TqvJSONptr back = TqvJSON::ParseText(text);
    ASSERT_NE(back, nullptr) << std::string(text.begin(), text.end());
    EXPECT_EQ(TqvJSON::GenerateText(back.get()), text);
  }
}

}  // namespace
