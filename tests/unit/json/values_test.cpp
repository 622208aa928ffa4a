#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "JSON.h"

namespace {

// A value that counts how many of its kind are alive, to see that containers free each child
// exactly once.
class Tracked : public TqvJSONnull {
 public:
  Tracked() { ++Live; }
  ~Tracked() override { --Live; }
  static inline int Live = 0;
};

TEST(JSONValues, KindsAndTypeNames) {
  struct Case {
    TqvJSONptr value;
    TqvJSONtypes type;
    std::u16string name;
  };
  std::vector<Case> cases;
  cases.push_back({std::make_unique<TqvJSONnumber>(), jsNumber, u"jsNumber"});
  cases.push_back({std::make_unique<TqvJSONstring>(), jsString, u"jsString"});
  cases.push_back({std::make_unique<TqvJSONboolean>(), jsBoolean, u"jsBoolean"});
  cases.push_back({std::make_unique<TqvJSONnull>(), jsNull, u"jsNull"});
  cases.push_back({std::make_unique<TqvJSONlist>(), jsList, u"jsList"});
  cases.push_back({std::make_unique<TqvJSONobject>(true), jsObject, u"jsObject"});
  cases.push_back({std::make_unique<TqvJSONobjectmethod>(), jsBase, u"jsBase"});
  cases.push_back({std::make_unique<TqvJSONbase>(), jsBase, u"jsBase"});
  for (const auto& c : cases) {
    EXPECT_EQ(c.value->SelfType(), c.type);
    EXPECT_EQ(c.value->SelfTypeName(), c.name);
  }
  EXPECT_EQ(static_cast<int>(jsObject), 6);
  EXPECT_EQ(TqvJSONcustomlist::ClassSelfType(), jsBase);
  EXPECT_EQ(TqvJSONobject::ClassSelfType(), jsObject);
  EXPECT_EQ(TqvJSONlist::ClassSelfTypeName(), u"jsList");
}

TEST(JSONValues, ValuesAtCreationAndFactories) {
  EXPECT_EQ(TqvJSONnumber().ExtendedValue(), 0);
  EXPECT_EQ(TqvJSONstring().Text(), u"");
  EXPECT_FALSE(TqvJSONboolean().BoolValue());
  EXPECT_EQ(TqvJSONobjectmethod().ObjValue(), nullptr);
  EXPECT_EQ(TqvJSONobjectmethod().Name(), u"");
  EXPECT_TRUE(TqvJSONobject(true).UseHash());
  EXPECT_FALSE(TqvJSONobject::Generate(false)->UseHash());
  EXPECT_EQ(TqvJSONlist::Generate()->Count(), 0);

  EXPECT_EQ(TqvJSONnumber::Generate(2.5L)->ExtendedValue(), 2.5L);
  EXPECT_EQ(TqvJSONstring::Generate(u"x")->Text(), u"x");
  EXPECT_TRUE(TqvJSONboolean::Generate(true)->BoolValue());
  auto pair = TqvJSONobjectmethod::Generate(u"n", TqvJSONstring::Generate(u"v"));
  EXPECT_EQ(pair->Name(), u"n");
  EXPECT_EQ(pair->ObjValue()->Value(), TqvVariant(u"v"));
  pair->SetName(u"m");
  EXPECT_EQ(pair->Name(), u"m");
}

TEST(JSONValues, ValueReadsAndWritesThroughVariant) {
  TqvJSONnumber n;
  n.SetValue(TqvVariant(2.5));
  EXPECT_EQ(n.Value(), TqvVariant(2.5));
  n.SetValue(TqvVariant(u"12.25"));
  EXPECT_EQ(n.Value(), TqvVariant(12.25));
  EXPECT_THROW(n.SetValue(TqvVariant(u"abc")), EJSONInvalidCast);
  EXPECT_EQ(n.Value(), TqvVariant(12.25)) << "a failed write changes nothing";

  TqvJSONstring s;
  s.SetValue(TqvVariant(2.5));
  EXPECT_EQ(s.Text(), u"2.5");
  s.SetValue(TqvVariant(true));
  EXPECT_EQ(s.Text(), u"true");

  TqvJSONboolean b;
  b.SetValue(TqvVariant(1.0));
  EXPECT_TRUE(b.BoolValue());
  b.SetValue(TqvVariant(u"FALSE"));
  EXPECT_FALSE(b.BoolValue());

  TqvJSONnull z;
  z.SetValue(TqvVariant(1.0));
  EXPECT_TRUE(z.Value().IsNull());
  EXPECT_TRUE(TqvJSONlist().Value().IsNull());
  EXPECT_TRUE(TqvJSONobject(true).Value().IsNull());

  // The extended value is rounded to double when read.
  TqvJSONnumber third(1.0L / 3.0L);
  EXPECT_EQ(third.Value(), TqvVariant(1.0 / 3.0));
}

TEST(JSONValues, ReadsOfAbsentElementsGiveDefaults) {
  TqvJSONobject obj(true);
  obj.Add(u"s", u"x");
  TqvJSONlist list;
  list.Add(u"x");
  for (const int idx : {-1, 1, 100}) {
    SCOPED_TRACE(idx);
    EXPECT_EQ(obj.getString(idx), u"");
    EXPECT_EQ(obj.getWideString(idx), u"");
    EXPECT_EQ(obj.getInt(idx), 0);
    EXPECT_EQ(obj.getDouble(idx), 0.0);
    EXPECT_FALSE(obj.getBoolean(idx));
    EXPECT_EQ(list.getString(idx), u"");
    EXPECT_EQ(list.getInt(idx), 0);
    EXPECT_EQ(list.getDouble(idx), 0.0);
    EXPECT_FALSE(list.getBoolean(idx));
  }
  EXPECT_EQ(obj.getString(u"missing"), u"");
  EXPECT_EQ(obj.getInt(u"missing"), 0);
}

TEST(JSONValues, ReadsOfTheWrongKindFail) {
  TqvJSONobject obj(true);
  obj.Add(u"num", 5);
  obj.Add(u"text", u"5");
  obj.Add(u"bool", true);
  obj.Add(u"null", std::make_unique<TqvJSONnull>());
  obj.Add(u"list", TqvJSONlist::Generate());

  using Read = std::function<void(TqvJSONobject&, const char16_t*)>;
  const std::vector<std::pair<const char*, Read>> reads = {
      {"getString", [](TqvJSONobject& o, const char16_t* n) { o.getString(n); }},
      {"getWideString", [](TqvJSONobject& o, const char16_t* n) { o.getWideString(n); }},
      {"getInt", [](TqvJSONobject& o, const char16_t* n) { o.getInt(n); }},
      {"getDouble", [](TqvJSONobject& o, const char16_t* n) { o.getDouble(n); }},
      {"getBoolean", [](TqvJSONobject& o, const char16_t* n) { o.getBoolean(n); }},
  };
  // Which field each read accepts; every other field raises an invalid cast.
  const std::vector<const char16_t*> accepted = {u"text", u"text", u"num", u"num", u"bool"};
  for (std::size_t r = 0; r < reads.size(); ++r) {
    for (const char16_t* field : {u"num", u"text", u"bool", u"null", u"list"}) {
      SCOPED_TRACE(std::string(reads[r].first) + " of " +
                   std::string(field, field + std::char_traits<char16_t>::length(field)));
      if (std::u16string(field) == accepted[r]) {
        EXPECT_NO_THROW(reads[r].second(obj, field));
      } else {
        EXPECT_THROW(reads[r].second(obj, field), EJSONInvalidCast);
      }
    }
  }
  EXPECT_EQ(obj.getInt(u"num"), 5);
  EXPECT_EQ(obj.getString(u"text"), u"5");
  EXPECT_TRUE(obj.getBoolean(u"bool"));
  EXPECT_EQ(obj.Count(), 5) << "failed reads leave the document as it was";

  // Lists read by position with the same rules.
  TqvJSONlist list;
  list.Add(u"a");
  list.Add(1);
  EXPECT_EQ(list.getString(0), u"a");
  EXPECT_THROW(list.getString(1), EJSONInvalidCast);
  EXPECT_THROW(list.getInt(0), EJSONInvalidCast);

  // Failures can be caught as one family.
  EXPECT_THROW(list.getBoolean(1), EJSONError);
  EXPECT_THROW(list.getBoolean(1), std::exception);
}

TEST(JSONValues, IntegerReadTruncatesAndKeepsLow32Bits) {
  struct Case {
    long double number;
    std::int32_t expected;
  };
  const std::vector<Case> cases = {
      {3.99L, 3},
      {-3.99L, -3},
      {0.5L, 0},
      {-0.0L, 0},
      {2147483647.0L, 2147483647},
      {2147483648.0L, -2147483647 - 1},  // 2^31
      {4294967297.0L, 1},                // 2^32 + 1
      {-4294967297.0L, -1},
      {-9223372036854775808.0L, 0},  // -2^63 is still a 64-bit integer
      {1e15L + 0.75L, static_cast<std::int32_t>(1000000000000000LL & 0xFFFFFFFF)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<double>(c.number));
    TqvJSONlist list;
    list.Add(TqvJSONnumber::Generate(c.number));
    EXPECT_EQ(list.getInt(0), c.expected);
  }
}

TEST(JSONValues, NumericReadsFailOutsideTheirRange) {
  TqvJSONlist list;
  list.Add(TqvJSONnumber::Generate(9223372036854775808.0L));  // 2^63: beyond int64
  list.Add(TqvJSONnumber::Generate(-1e300L));
  list.Add(TqvJSONnumber::Generate(1e4000L));  // beyond double
  list.Add(TqvJSONnumber::Generate(-1e4000L));
  list.Add(TqvJSONnumber::Generate(std::numeric_limits<long double>::quiet_NaN()));
  list.Add(TqvJSONnumber::Generate(1e-4000L));  // below double: reads as zero

  EXPECT_THROW(list.getInt(0), EJSONInvalidOp);
  EXPECT_EQ(list.getDouble(0), 9223372036854775808.0);
  EXPECT_THROW(list.getInt(1), EJSONInvalidOp);
  EXPECT_EQ(list.getDouble(1), -1e300);
  EXPECT_THROW(list.getInt(2), EJSONOverflow);
  EXPECT_THROW(list.getDouble(2), EJSONOverflow);
  EXPECT_THROW(list.getDouble(3), EJSONOverflow);
  EXPECT_THROW(list.ItemAt(2)->Value(), EJSONOverflow);
  EXPECT_THROW(list.getInt(4), EJSONInvalidOp);
  EXPECT_EQ(list.getDouble(5), 0.0);
  EXPECT_EQ(list.getInt(5), 0);
  // Both are floating-point failures.
  EXPECT_THROW(list.getInt(0), EJSONFloatError);
  EXPECT_THROW(list.getInt(2), EJSONFloatError);
}

TEST(JSONValues, RepeatedNameReadsTheFirstField) {
  for (const bool useHash : {true, false}) {
    SCOPED_TRACE(useHash);
    TqvJSONobject obj(useHash);
    EXPECT_EQ(obj.Add(u"a", u"x"), 0);
    EXPECT_EQ(obj.Add(u"a", 5), 1);
    EXPECT_EQ(obj.Count(), 2);
    EXPECT_EQ(obj.IndexOfName(u"a"), 0);
    EXPECT_EQ(obj.getString(1), u"x");
    EXPECT_THROW(obj.getInt(1), EJSONInvalidCast);
    EXPECT_EQ(obj.FieldNameAt(1), u"a");
    EXPECT_EQ(obj.ItemAt(1)->As<TqvJSONobjectmethod>()->ObjValue()->SelfType(), jsNumber);
  }
}

TEST(JSONValues, LookupWithAndWithoutIndexAgree) {
  TqvJSONobject hashed(true);
  TqvJSONobject plain(false);
  const std::vector<std::u16string> names = {u"cmd", u"TransID", u"", u"b", u"B", u"cmd", u"x"};
  for (const auto& n : names) {
    hashed.Add(n, n + u"!");
    plain.Add(n, n + u"!");
  }
  for (const std::u16string probe : {u"cmd", u"TransID", u"", u"b", u"B", u"x", u"y", u"CMD"}) {
    SCOPED_TRACE(std::string(probe.begin(), probe.end()));
    EXPECT_EQ(hashed.IndexOfName(probe), plain.IndexOfName(probe));
    EXPECT_EQ(hashed.OldGetField(probe) == nullptr, plain.OldGetField(probe) == nullptr);
  }
  EXPECT_EQ(hashed.IndexOfName(u"cmd"), 0);
  EXPECT_EQ(hashed.IndexOfName(u"y"), -1);
  EXPECT_EQ(hashed.OldGetField(u"y"), nullptr);
}

TEST(JSONValues, EmptyNameIsFoundButNotReadByPosition) {
  TqvJSONobject obj(true);
  obj.Add(u"a", 1);
  obj.Add(u"", u"hidden");
  EXPECT_EQ(obj.IndexOfName(u""), 1);
  ASSERT_NE(obj.OldGetField(u""), nullptr);
  EXPECT_EQ(obj.OldGetField(u"")->Value(), TqvVariant(u"hidden"));
  EXPECT_EQ(obj.FieldValueAt(1), nullptr);
  EXPECT_EQ(obj.getString(1), u"");
  EXPECT_EQ(obj.getString(u""), u"") << "by name goes through the position";
  EXPECT_EQ(obj.getInt(1), 0);
}

TEST(JSONValues, AddingAbsentValuesIsRefused) {
  TqvJSONobject obj(true);
  obj.Add(u"a", 1);
  EXPECT_EQ(obj.Add(u"b", TqvJSONptr()), -1);
  EXPECT_EQ(obj.Add(u"b", nullptr), -1);
  EXPECT_EQ(obj.Count(), 1);
  EXPECT_EQ(obj.IndexOfName(u"b"), -1) << "the refused name is not indexed";

  TqvJSONlist list;
  EXPECT_EQ(list.Add(TqvJSONptr()), -1);
  EXPECT_EQ(list.Add(nullptr), -1);
  EXPECT_EQ(list.AppendItem(nullptr), -1);
  EXPECT_EQ(list.Count(), 0);
}

TEST(JSONValues, TypedAddsMakeTheRightKinds) {
  TqvJSONlist list;
  EXPECT_EQ(list.Add(true), 0);
  EXPECT_EQ(list.Add(2.5), 1);
  EXPECT_EQ(list.Add(-7), 2);
  EXPECT_EQ(list.Add(std::u16string(u"s")), 3);
  EXPECT_EQ(list.Add(u"w"), 4);
  EXPECT_EQ(list.Add(TqvJSONlist::Generate()), 5);
  const std::vector<TqvJSONtypes> kinds = {jsBoolean, jsNumber, jsNumber,
                                           jsString,  jsString, jsList};
  for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.ItemAt(i)->SelfType(), kinds[i]);
  EXPECT_EQ(list.getInt(2), -7);
  EXPECT_EQ(list.getString(4), u"w");

  TqvJSONobject obj(true);
  obj.Add(u"b", false);
  obj.Add(u"d", 0.25);
  obj.Add(u"i", -2147483647 - 1);
  obj.Add(u"s", u"t");
  obj.Add(u"l", TqvJSONlist::Generate());
  EXPECT_FALSE(obj.getBoolean(u"b"));
  EXPECT_EQ(obj.getDouble(u"d"), 0.25);
  EXPECT_EQ(obj.getInt(u"i"), -2147483647 - 1);
  EXPECT_EQ(static_cast<TqvJSONnumber*>(obj.OldGetField(u"i"))->ExtendedValue(), -2147483648.0L);
  EXPECT_EQ(obj.getString(u"s"), u"t");
  EXPECT_EQ(obj.OldGetField(u"l")->SelfType(), jsList);
}

TEST(JSONValues, DeleteMovesTheLastElementIntoTheGap) {
  TqvJSONlist list;
  list.Add(u"a");
  list.Add(u"b");
  list.Add(u"c");
  list.Delete(0);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.getString(0), u"c");
  EXPECT_EQ(list.getString(1), u"b");
  list.Delete(1);  // the last one: nothing moves
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.getString(0), u"c");
  list.Delete(5);
  list.Delete(-1);
  EXPECT_EQ(list.Count(), 1);
}

TEST(JSONValues, PositionsAndPointers) {
  TqvJSONobject obj(true);
  auto inner = TqvJSONlist::Generate();
  TqvJSONlist* innerPtr = inner.get();
  obj.Add(u"x", 1);
  obj.Add(u"list", std::move(inner));
  EXPECT_EQ(obj.IndexOfObject(innerPtr), 1);
  EXPECT_EQ(obj.IndexOfObject(&obj), -1);
  EXPECT_EQ(obj.FindItem(innerPtr), -1) << "an object holds pairs, not the values";
  EXPECT_EQ(obj.FindItem(obj.ItemAt(1)), 1);

  std::u16string nm;
  EXPECT_EQ(obj.EnumItem(1, nm), innerPtr);
  EXPECT_EQ(nm, u"list");
  EXPECT_EQ(obj.EnumItem(7, nm), nullptr);
  EXPECT_EQ(nm, u"");

  innerPtr->Add(u"e");
  EXPECT_EQ(innerPtr->EnumItem(0, nm)->Value(), TqvVariant(u"e"));
  EXPECT_EQ(nm, u"0");
  EXPECT_EQ(innerPtr->IndexOf(innerPtr->ItemAt(0)), 0);

  // FieldOf: numbers are positions, text names a field of an object, other keys the value itself.
  EXPECT_EQ(obj.FieldOf(TqvVariant(u"list")), innerPtr);
  EXPECT_EQ(obj.FieldOf(TqvVariant(u"none")), nullptr);
  EXPECT_EQ(obj.FieldOf(TqvVariant(1.0)), obj.ItemAt(1));
  EXPECT_EQ(obj.FieldOf(TqvVariant(true)), &obj);
  EXPECT_EQ(innerPtr->FieldOf(TqvVariant(0.0)), innerPtr->ItemAt(0));
  EXPECT_EQ(innerPtr->FieldOf(TqvVariant(-1.0)), nullptr);
  EXPECT_EQ(innerPtr->FieldOf(TqvVariant(u"0")), innerPtr);
  TqvJSONstring s;
  EXPECT_EQ(s.FieldOf(TqvVariant(0.0)), &s);
  EXPECT_EQ(s.ItemAt(0), nullptr);
  EXPECT_EQ(s.Count(), 0);
}

TEST(JSONValues, ContainersFreeEveryChildExactlyOnce) {
  Tracked::Live = 0;
  {
    auto root = TqvJSONobject::Generate(true);
    auto objects = TqvJSONlist::Generate();
    for (int i = 0; i < 50; ++i) {
      auto o = TqvJSONobject::Generate(true);
      o->Add(u"t", std::make_unique<Tracked>());
      o->Add(u"t", std::make_unique<Tracked>());  // a repeated name is owned all the same
      auto deeper = TqvJSONlist::Generate();
      deeper->Add(std::make_unique<Tracked>());
      o->Add(u"l", std::move(deeper));
      objects->Add(std::move(o));
    }
    root->Add(u"objects", std::move(objects));
    root->Add(u"pair", TqvJSONobjectmethod::Generate(u"p", std::make_unique<Tracked>()));
    EXPECT_EQ(Tracked::Live, 151);

    auto* list = static_cast<TqvJSONlist*>(root->OldGetField(u"objects"));
    list->Delete(3);
    EXPECT_EQ(Tracked::Live, 148) << "removing an element frees it with everything below";
    EXPECT_TRUE(list->ReplaceItemAt(0, std::make_unique<Tracked>()));
    EXPECT_EQ(Tracked::Live, 146);
    EXPECT_FALSE(list->ReplaceItemAt(99, std::make_unique<Tracked>()));
    EXPECT_EQ(Tracked::Live, 146) << "a refused replacement is freed, not leaked";
  }
  EXPECT_EQ(Tracked::Live, 0);
}

}  // namespace
