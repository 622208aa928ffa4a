#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "JSON.h"

namespace {

std::string Narrow(const std::u16string& s) {
  return std::string(s.begin(), s.end());
}

TEST(NumberText, ArithmeticIsExtendedPrecision) {
  // Guards the assumption that long double carries a 64-bit significand at run time (x87
  // precision control left at 64 bits), in both builds.
  EXPECT_EQ(std::numeric_limits<long double>::digits, 64);
  volatile long double one = 1.0L;
  volatile long double tiny = std::ldexp(1.0L, -63);
  EXPECT_NE(one + tiny, one);
}

TEST(NumberText, FormsOfNumbers) {
  struct Case {
    long double value;
    const char* text;
  };
  const std::vector<Case> cases = {
      {7, "7"},
      {-2147483648.0L, "-2147483648"},
      {2147483647, "2147483647"},
      {2.5L, "2.5"},
      {0.1, "0.1"},  // the double nearest 0.1, as numbers made from doubles hold it
      {0.1L, "0.1"},
      {0.0001L, "0.0001"},
      {0.00001L, "1E-5"},
      {1.0 / 3.0, "0.333333333333333"},
      {2.0L / 3.0L, "0.666666666666667"},
      {999999999999999.0L, "999999999999999"},
      {1e15L, "1E15"},
      {123456789012345678.0L, "1.23456789012346E17"},
      {-1.5e-7L, "-1.5E-7"},
      {1e20L, "1E20"},
      {123.456, "123.456"},
      {-0.5L, "-0.5"},
      {100, "100"},
      {0, "0"},
      {-0.0L, "0"},
      // Half away from zero on the exact value, not half to even.
      {123456789012344.5L, "123456789012345"},
      {123456789012345.5L, "123456789012346"},
      {-123456789012344.5L, "-123456789012345"},
      {1234567890123445.0L, "1.23456789012345E15"},
      {999999999999999.5L, "1E15"},
      {0.000099999999999999995L, "0.0001"},
      {18446744073709551615.0L, "1.84467440737096E19"},
      {LDBL_MAX, "1.18973149535723E4932"},
      {LDBL_MIN, "3.36210314311209E-4932"},
      {std::numeric_limits<long double>::denorm_min(), "3.64519953188247E-4951"},
      {DBL_MAX, "1.79769313486232E308"},
      {std::numeric_limits<long double>::quiet_NaN(), "NAN"},
      {std::numeric_limits<long double>::infinity(), "INF"},
      {-std::numeric_limits<long double>::infinity(), "-INF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Narrow(FormatNumber(c.value)), c.text);
    EXPECT_EQ(Narrow(TqvJSON::GenerateText(TqvJSONnumber::Generate(c.value).get())), c.text);
  }
  EXPECT_EQ(FormatNumber(12.5L, u','), u"12,5");
  EXPECT_EQ(FormatNumber(1.5e-7L, u','), u"1,5E-7");
}

TEST(NumberText, EveryIntegerOf32BitsInPlainDecimal) {
  for (std::int64_t v = -2147483648LL; v <= 2147483647LL; v += 4093 * 4099 + 7) {
    EXPECT_EQ(Narrow(FormatNumber(static_cast<long double>(v))), std::to_string(v));
  }
  for (const std::int64_t v : {-1LL, 1LL, 10LL, 1000000LL, 2147483647LL, -2147483648LL}) {
    EXPECT_EQ(Narrow(FormatNumber(static_cast<long double>(v))), std::to_string(v));
  }
}

TEST(NumberText, ConversionOfNumberText) {
  struct Case {
    const char16_t* text;
    long double expected;
  };
  const std::vector<Case> cases = {
      {u"0", 0},
      {u"+5", 5},
      {u"-0", -0.0L},
      {u"007", 7},
      {u"1.5", 1.5L},
      {u"1E+2", 100},
      {u"1e-2", 0.01L},
      {u"0.000001", 0.000001L},
      {u"123456789012345678", 123456789012345678.0L},
      {u"18446744073709551615", 18446744073709551615.0L},
      // Beyond 64 bits the kept digits round once, to nearest, ties to even.
      {u"18446744073709551617", 18446744073709551617.0L},
      {u"18446744073709551619", 18446744073709551619.0L},
      {u"36893488147419103231", 36893488147419103231.0L},
      {u"123456789012345678901234567890", 123456789012345678901234567890.0L},
      {u"99999999999999999999999999999999999999", 99999999999999999999999999999999999999.0L},
      {u"0.1", 0.1L},
      {u"1e-5000", 0},
      {u"0e99999999999999999999", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    long double v = -1;
    ASSERT_TRUE(ConvertNumberText(c.text, v));
    EXPECT_EQ(v, c.expected);
    EXPECT_EQ(std::signbit(v), std::signbit(c.expected));
  }
  long double v = 0;
  EXPECT_FALSE(ConvertNumberText(u"1e5000", v));
  EXPECT_FALSE(ConvertNumberText(u"-1.2e4932", v));
  EXPECT_FALSE(ConvertNumberText(u"1e99999999999999999999", v));
  ASSERT_TRUE(ConvertNumberText(u"1.18973149535723e4932", v));
  EXPECT_EQ(FormatNumber(v), u"1.18973149535723E4932");
  ASSERT_TRUE(ConvertNumberText(u"1e-4950", v));
  EXPECT_GT(v, 0) << "below the normal range a denormal remains";
}

TEST(NumberText, ConversionIsCloseAcrossTheRange) {
  // Text of 19 digits with exponents over the whole range converts to within a few units in the
  // last place, so 15-digit output of the result gives back the same digits.
  for (int e = -4900; e <= 4900; e += 37) {
    std::u16string text = u"1.234567890123456789e";
    for (const char c : std::to_string(e)) text.push_back(static_cast<char16_t>(c));
    long double v = 0;
    ASSERT_TRUE(ConvertNumberText(text, v)) << e;
    EXPECT_EQ(Narrow(FormatNumber(v)).substr(0, 16), "1.23456789012346") << e;
  }
}

}  // namespace
