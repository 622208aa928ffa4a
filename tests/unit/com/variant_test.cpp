// Variants, BSTRs and safe arrays. The same tables run natively against the
// stand-in and under Wine against the system's OLE Automation, so the stand-in
// converts as the platform does.
#include <cmath>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "ComApi.h"

namespace {

struct ComSession {
  ComSession() { CoInitialize(nullptr); }
  ~ComSession() { CoUninitialize(); }
};

VARIANT Make(VARTYPE vt, const std::function<void(VARIANT&)>& fill) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  fill(v);
  return v;
}

VARIANT Text(const char16_t* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = U16ToBstr(text);
  return v;
}

std::string Narrow(const std::u16string& text) {
  return std::string(text.begin(), text.end());
}

struct TextCase {
  const char* name;
  VARIANT value;
  const char16_t* text;
};

TEST(VariantText, FollowsThePlatformConversion) {
  ComSession com;
  const TextCase cases[] = {
      {"empty", Make(VT_EMPTY, [](VARIANT&) {}), u""},
      {"null", Make(VT_NULL, [](VARIANT&) {}), u""},
      {"I1", Make(VT_I1, [](VARIANT& v) { v.cVal = -5; }), u"-5"},
      {"UI1", Make(VT_UI1, [](VARIANT& v) { v.bVal = 200; }), u"200"},
      {"I2", Make(VT_I2, [](VARIANT& v) { v.iVal = -32768; }), u"-32768"},
      {"UI2", Make(VT_UI2, [](VARIANT& v) { v.uiVal = 65535; }), u"65535"},
      {"I4", Make(VT_I4, [](VARIANT& v) { v.lVal = INT32_MIN; }), u"-2147483648"},
      {"UI4", Make(VT_UI4, [](VARIANT& v) { v.ulVal = UINT32_MAX; }), u"4294967295"},
      {"I8", Make(VT_I8, [](VARIANT& v) { v.llVal = INT64_MIN; }), u"-9223372036854775808"},
      {"UI8", Make(VT_UI8, [](VARIANT& v) { v.ullVal = UINT64_MAX; }), u"18446744073709551615"},
      {"R4 widened", Make(VT_R4, [](VARIANT& v) { v.fltVal = 0.1f; }), u"0.100000001490116"},
      {"R4 exact", Make(VT_R4, [](VARIANT& v) { v.fltVal = 1.5f; }), u"1.5"},
      {"R4 large", Make(VT_R4, [](VARIANT& v) { v.fltVal = 16777216.0f; }), u"16777216"},
      {"R8 tenth", Make(VT_R8, [](VARIANT& v) { v.dblVal = 0.1; }), u"0.1"},
      {"R8 third", Make(VT_R8, [](VARIANT& v) { v.dblVal = 1.0 / 3; }), u"0.333333333333333"},
      {"R8 negative", Make(VT_R8, [](VARIANT& v) { v.dblVal = -2.5; }), u"-2.5"},
      {"R8 15 digits", Make(VT_R8, [](VARIANT& v) { v.dblVal = 123456.789; }), u"123456.789"},
      {"R8 big", Make(VT_R8, [](VARIANT& v) { v.dblVal = 1e15; }), u"1E+15"},
      {"R8 rounded", Make(VT_R8, [](VARIANT& v) { v.dblVal = 123456789012345678.0; }),
       u"1.23456789012346E+17"},
      {"R8 small", Make(VT_R8, [](VARIANT& v) { v.dblVal = 1e-5; }), u"1E-05"},
      {"R8 fixed small", Make(VT_R8, [](VARIANT& v) { v.dblVal = 0.0001; }), u"0.0001"},
      {"R8 zero", Make(VT_R8, [](VARIANT& v) { v.dblVal = 0.0; }), u"0"},
      {"BOOL true", Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), u"True"},
      {"BOOL false", Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_FALSE; }), u"False"},
      {"CY", Make(VT_CY, [](VARIANT& v) { v.cyVal.int64 = 123456; }), u"12.3456"},
      {"CY trimmed", Make(VT_CY, [](VARIANT& v) { v.cyVal.int64 = 15000; }), u"1.5"},
      {"CY negative", Make(VT_CY, [](VARIANT& v) { v.cyVal.int64 = -10000; }), u"-1"},
      {"DATE and time", Make(VT_DATE, [](VARIANT& v) { v.date = 45000.5; }),
       u"3/15/2023 12:00:00 PM"},
      {"DATE only", Make(VT_DATE, [](VARIANT& v) { v.date = 45000.0; }), u"3/15/2023"},
      {"time only", Make(VT_DATE, [](VARIANT& v) { v.date = 0.25; }), u"6:00:00 AM"},
      {"DATE afternoon",
       Make(VT_DATE, [](VARIANT& v) { v.date = 2.0 + 13.0 / 24 + 5.0 / 1440 + 7.0 / 86400; }),
       u"1/1/1900 1:05:07 PM"},
  };
  for (const TextCase& c : cases) {
    std::u16string text = u"unchanged";
    EXPECT_EQ(VariantToText(c.value, text), S_OK) << c.name;
    EXPECT_EQ(Narrow(text), Narrow(c.text)) << c.name;
  }
}

TEST(VariantText, KeepsStringsAndRefusesArrays) {
  ComSession com;
  const std::u16string original = u"Gr\u00fc\u00dfe, 12,5 \U0001F600";
  VARIANT text = Text(original.c_str());
  std::u16string out;
  EXPECT_EQ(VariantToText(text, out), S_OK);
  EXPECT_EQ(out, original);
  VariantClear(&text);

  VARIANT array;
  VariantInit(&array);
  array.vt = VT_ARRAY | VT_R8;
  array.parray = SafeArrayCreateVector(VT_R8, 0, 3);
  ASSERT_NE(array.parray, nullptr);
  out = u"kept";
  EXPECT_TRUE(FAILED(VariantToText(array, out)));
  EXPECT_EQ(out, u"kept");
  EXPECT_EQ(VariantClear(&array), S_OK);
  EXPECT_EQ(array.vt, VT_EMPTY);
}

double AsNumber(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1:
      return v.cVal;
    case VT_UI1:
      return v.bVal;
    case VT_I2:
      return v.iVal;
    case VT_BOOL:
      return v.boolVal;
    case VT_I4:
      return v.lVal;
    case VT_UI4:
      return v.ulVal;
    case VT_I8:
      return static_cast<double>(v.llVal);
    case VT_R4:
      return v.fltVal;
    case VT_R8:
      return v.dblVal;
    case VT_CY:
      return static_cast<double>(v.cyVal.int64);
    default:
      return NAN;
  }
}

struct ChangeCase {
  const char* name;
  VARIANT from;
  VARTYPE to;
  HRESULT hr;
  double expected;  // the converted value read as a number, when the conversion
                    // succeeds
};

TEST(VariantChangeType, ConvertsAsTheWriteConversionNeeds) {
  ComSession com;
  auto r8 = [](double d) { return Make(VT_R8, [d](VARIANT& v) { v.dblVal = d; }); };
  auto i4 = [](LONG l) { return Make(VT_I4, [l](VARIANT& v) { v.lVal = l; }); };
  ChangeCase cases[] = {
      {"text to I4", Text(u"12"), VT_I4, S_OK, 12},
      {"blanks around", Text(u" 12 "), VT_I4, S_OK, 12},
      {"half to even, down", Text(u"12.5"), VT_I4, S_OK, 12},
      {"half to even, up", Text(u"13.5"), VT_I4, S_OK, 14},
      {"signed text", Text(u"-12.5"), VT_I4, S_OK, -12},
      {"exponent", Text(u"1e3"), VT_I4, S_OK, 1000},
      {"hexadecimal", Text(u"&H1F"), VT_I4, S_OK, 31},
      {"group separator", Text(u"1,000"), VT_I4, S_OK, 1000},
      {"not a number", Text(u"abc"), VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"trailing junk", Text(u"12abc"), VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"empty text", Text(u""), VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"C hexadecimal", Text(u"0x1F"), VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"text beyond I4", Text(u"2147483648"), VT_I4, DISP_E_OVERFLOW, 0},
      {"text to R8", Text(u"12.5"), VT_R8, S_OK, 12.5},
      {"huge text to R8", Text(u"1.5e300"), VT_R8, S_OK, 1.5e300},
      {"True text", Text(u"True"), VT_BOOL, S_OK, -1},
      {"false text", Text(u"false"), VT_BOOL, S_OK, 0},
      {"number text to BOOL", Text(u"12"), VT_BOOL, S_OK, -1},
      {"word to BOOL", Text(u"yes"), VT_BOOL, DISP_E_TYPEMISMATCH, 0},
      {"R8 half to even", r8(2.5), VT_I4, S_OK, 2},
      {"R8 half to even up", r8(3.5), VT_I4, S_OK, 4},
      {"R8 beyond UI1", r8(255.5), VT_UI1, DISP_E_OVERFLOW, 0},
      {"R8 negative to UI1", r8(-2.5), VT_UI1, DISP_E_OVERFLOW, 0},
      {"R8 beyond R4", r8(3e39), VT_R4, DISP_E_OVERFLOW, 0},
      {"R8 to CY", r8(2.5), VT_CY, S_OK, 25000},
      {"R8 to BOOL", r8(0.5), VT_BOOL, S_OK, -1},
      {"I4 beyond UI1", i4(300), VT_UI1, DISP_E_OVERFLOW, 0},
      {"I4 beyond I1", i4(300), VT_I1, DISP_E_OVERFLOW, 0},
      {"I4 to R4", i4(300), VT_R4, S_OK, 300},
      {"I8 beyond I4", Make(VT_I8, [](VARIANT& v) { v.llVal = 1LL << 40; }), VT_I4, DISP_E_OVERFLOW,
       0},
      {"BOOL to I4", Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), VT_I4, S_OK, -1},
      {"empty to I4", Make(VT_EMPTY, [](VARIANT&) {}), VT_I4, S_OK, 0},
      {"null to I4", Make(VT_NULL, [](VARIANT&) {}), VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"CY to I4", Make(VT_CY, [](VARIANT& v) { v.cyVal.int64 = 25000; }), VT_I4, S_OK, 2},
  };
  for (ChangeCase& c : cases) {
    VARIANT out;
    VariantInit(&out);
    const HRESULT hr = VariantChangeType(&out, &c.from, 0, c.to);
    EXPECT_EQ(hr, c.hr) << c.name;
    if (SUCCEEDED(hr) && SUCCEEDED(c.hr)) {
      EXPECT_EQ(out.vt, c.to) << c.name;
      EXPECT_DOUBLE_EQ(AsNumber(out), c.expected) << c.name;
    }
    if (FAILED(hr)) {
      EXPECT_EQ(out.vt, VT_EMPTY) << c.name << ": a failure leaves the target alone";
    }
    VariantClear(&out);
    VariantClear(&c.from);
  }
}

TEST(VariantChangeType, BooleanTextDependsOnTheAlphaFlag) {
  ComSession com;
  VARIANT flag = Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; });
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(VariantChangeType(&out, &flag, 0, VT_BSTR), S_OK);
  EXPECT_EQ(BstrToU16(out.bstrVal), u"-1");
  ASSERT_EQ(VariantChangeType(&out, &flag, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
  EXPECT_EQ(BstrToU16(out.bstrVal), u"True");
  VariantClear(&out);
}

TEST(VariantChangeType, ConvertsInPlaceAndFreesTheOldText) {
  ComSession com;
  VARIANT v = Text(u"42");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 42);
}

TEST(VariantCopy, CopiesTextAndArraysDeeply) {
  ComSession com;
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_ARRAY | VT_BSTR;
  source.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
  ASSERT_NE(source.parray, nullptr);
  for (LONG i = 0; i < 2; ++i) {
    BstrPtr item(U16ToBstr(i == 0 ? u"first" : u"second"));
    ASSERT_EQ(SafeArrayPutElement(source.parray, &i, item.get()), S_OK);
  }
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  ASSERT_NE(copy.parray, source.parray);
  EXPECT_EQ(VariantClear(&source), S_OK);

  LONG index = 1;
  BSTR item = nullptr;
  ASSERT_EQ(SafeArrayGetElement(copy.parray, &index, &item), S_OK);
  EXPECT_EQ(BstrToU16(item), u"second");
  SysFreeString(item);
  LONG lower = -1, upper = -1;
  EXPECT_EQ(SafeArrayGetLBound(copy.parray, 1, &lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(copy.parray, 1, &upper), S_OK);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 1);
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetVartype(copy.parray, &vt), S_OK);
  EXPECT_EQ(vt, VT_BSTR);
  EXPECT_EQ(VariantClear(&copy), S_OK);
}

TEST(Bstr, KeepsItsLengthAndEmbeddedNuls) {
  ComSession com;
  const std::u16string text(u"a\0b", 3);
  BstrPtr bstr(U16ToBstr(text));
  ASSERT_NE(bstr, nullptr);
  EXPECT_EQ(SysStringLen(bstr.get()), 3u);
  EXPECT_EQ(SysStringByteLen(bstr.get()), 6u);
  EXPECT_EQ(BstrToU16(bstr.get()), text);
  EXPECT_EQ(bstr.get()[3], 0);
  EXPECT_EQ(BstrToU16(nullptr), u"");
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
}

TEST(OleStrings, RoundTripThroughOleAndTaskMemory) {
  const std::u16string text = u"Plant.Line2.Temp \u00e9";
  EXPECT_EQ(OleToU16(U16ToOle(text)), text);
  EXPECT_EQ(OleToU16(OLESTR("Plant")), u"Plant");
  EXPECT_EQ(OleToU16(nullptr), u"");
  CoTaskMemPtr<OLECHAR> copy(U16ToCoTaskMem(text));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(OleToU16(copy.get()), text);
}

}  // namespace
