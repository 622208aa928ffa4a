// The value text of "setValue": numbers in the general format with the decimal separator in
// force, strings unchanged, anything else unreadable.
#include <gtest/gtest.h>

#include "JSONText.h"
#include "WriteValue.h"

namespace {

std::optional<std::u16string> ValueOf(const std::u16string& Request, char16_t Separator) {
  TqvJSONptr Document = TqvJSON::ParseText(Request);
  return WriteValueText(*Document->As<TqvJSONobject>(), Separator);
}

TEST(WriteValueTest, NumbersStringsAndEverythingElse) {
  struct TCase {
    std::u16string Request;
    std::optional<std::u16string> Point, Comma;
  };
  const TCase Cases[] = {
      {uR"({"value":12.5})", u"12.5", u"12,5"},
      {uR"({"value":3.25})", u"3.25", u"3,25"},
      {uR"({"value":100})", u"100", u"100"},
      {uR"({"value":0})", u"0", u"0"},
      {uR"({"value":-0.0})", u"0", u"0"},
      {uR"({})", u"0", u"0"},
      {uR"({"value":1e20})", u"1E20", u"1E20"},
      {uR"({"value":1.5e-7})", u"1.5E-7", u"1,5E-7"},
      {uR"({"value":0.00001})", u"1E-5", u"1E-5"},
      {uR"({"value":0.0001})", u"0.0001", u"0,0001"},
      {uR"({"value":999999999999999})", u"999999999999999", u"999999999999999"},
      {uR"({"value":1000000000000000})", u"1E15", u"1E15"},
      {uR"({"value":0.1234567890123456789})", u"0.123456789012346", u"0,123456789012346"},
      {uR"({"value":-2.5})", u"-2.5", u"-2,5"},
      {uR"({"value":"ON"})", u"ON", u"ON"},
      {uR"({"value":"12.5"})", u"12.5", u"12.5"},
      {uR"({"value":""})", u"", u""},
      {uR"({"value":1e400})", std::nullopt, std::nullopt},
      {uR"({"value":true})", std::nullopt, std::nullopt},
      {uR"({"value":null})", std::nullopt, std::nullopt},
      {uR"({"value":[1]})", std::nullopt, std::nullopt},
      {uR"({"value":{"a":1}})", std::nullopt, std::nullopt},
      {uR"({"value":"first","value":2})", u"first", u"first"},
  };
  for (const auto& C : Cases) {
    const std::string Label(C.Request.begin(), C.Request.end());
    EXPECT_EQ(ValueOf(C.Request, u'.'), C.Point) << Label;
    EXPECT_EQ(ValueOf(C.Request, u','), C.Comma) << Label;
  }
}

}  // namespace
