// Rules of the server connection that need no server: class identifier parsing, separator
// marking, tag hashes and the conversion of written values.
#include <gtest/gtest.h>

#include <cstring>

#include "HashName.h"
#include "OPCServer.h"
#include "OPCTestSupport.h"

namespace {

TEST(ParseClassID, Cases) {
  struct TCase {
    std::u16string Text;
    bool Ok;
    GUID Expected;
  };
  const GUID Opc = {0x39C13A4D, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
  // Without braces the first run is dropped and the last is never used: shifted by one field.
  const GUID Shifted = {0x011E, 0x11D0, 0x9675, {0, 0, 0, 0, 0, 0, 0, 0}};
  const TCase Cases[] = {
      {u"{39C13A4D-011E-11D0-9675-0020AFD8ADB3}", true, Opc},
      {u"{39c13a4d-011e-11d0-9675-0020afd8adb3}", true, Opc},
      {u"39C13A4D-011E-11D0-9675-0020AFD8ADB3", true, Shifted},
      {u"{39C13A4D-011E-11D0-967-0020AFD8ADB3}", false, {}},
      {u"{39C13A4D-011E-11D0-96750-0020AFD8ADB3}", false, {}},
      {u"{39C13A4D-011E-11D0-9675-0020AFD8ADB}", false, {}},
      {u"{}", false, {}},
      {u"{", false, {}},
      {u"", false, {}},
      {u"{39C13A4D--11D0-9675-0020AFD8ADB3}", false, {}},
  };
  for (const auto& Case : Cases) {
    CLSID Parsed;
    EXPECT_EQ(TOPCServer::ParseClassID(Case.Text, Parsed), Case.Ok) << Narrow(Case.Text);
    if (Case.Ok) {
      EXPECT_EQ(Parsed.Data1, Case.Expected.Data1) << Narrow(Case.Text);
      EXPECT_EQ(Parsed.Data2, Case.Expected.Data2) << Narrow(Case.Text);
      EXPECT_EQ(Parsed.Data3, Case.Expected.Data3) << Narrow(Case.Text);
      EXPECT_EQ(std::memcmp(Parsed.Data4, Case.Expected.Data4, 8), 0) << Narrow(Case.Text);
    }
  }
}

TEST(MarkSeparators, LevelsPrefixAndDottedLeaf) {
  struct TCase {
    std::u16string ItemID;
    std::u16string Path;
    TSeparatorIndexis Positions;
    std::u16string Expected;
  };
  const TCase Cases[] = {
      {u"Plant.Line2.Temp", u"Plant.Line2.Temp", {6, 12}, u"Plant$#%Line2$#%Temp"},
      {u"[Dev]Plant.Line2.Temp", u"Plant.Line2.Temp", {6, 12}, u"[Dev]Plant$#%Line2$#%Temp"},
      {u"Plant.Temp.PV", u"Plant.Temp.PV", {6}, u"Plant$#%Temp.PV"},
      {u"Root.Leaf", u"Root.Leaf", {}, u"Root.Leaf"},
      // An item identifier shorter than the path: positions that fall before it are skipped.
      {u"Leaf", u"Plant.Leaf", {6}, u"Leaf"},
      // Beyond the end nothing is removed and the mark is appended.
      {u"AB", u"AB", {5}, u"AB$#%"},
  };
  for (const auto& Case : Cases) {
    const auto Offset = static_cast<int32_t>(Case.Path.size() - Case.ItemID.size());
    EXPECT_EQ(Narrow(TOPCServer::MarkSeparators(Case.ItemID, Case.Positions, Offset)),
              Narrow(Case.Expected));
  }
}

TEST(MakeHashName, Md5OfUsAscii) {
  EXPECT_EQ(MakeHashName(u""), u"d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(MakeHashName(u"Plant$#%Line2$#%Temp"), u"a40c13d6a8692e5f1f6d5f0821bad5a5");
  EXPECT_EQ(ToUsAscii(u"Plant.A-1"), "Plant.A-1");
  // Characters outside 7-bit ASCII of the same count collapse to the same bytes.
  EXPECT_EQ(ToUsAscii(u"T\u00e9mp").size(), 4u);
  EXPECT_EQ(MakeHashName(u"T\u00e9mp"), MakeHashName(u"T\u00e8mp"));
}

TEST(MakeWriteValue, IntegerFloatOrText) {
  struct TCase {
    std::u16string Text;
    VARTYPE Type;
    double Number;  // VT_I4 / VT_R8
  };
  const TCase Cases[] = {
      {u"12", VT_I4, 12},
      {u"  -7", VT_I4, -7},
      {u"+5", VT_I4, 5},
      {u"$1F", VT_I4, 31},
      {u"0x1F", VT_I4, 31},
      {u"x1f", VT_I4, 31},
      {u"-$10", VT_I4, -16},
      {u"$FFFFFFFF", VT_I4, -1},
      {u"2147483647", VT_I4, 2147483647},
      {u"-2147483648", VT_I4, -2147483648.0},
      {u"2147483648", VT_R8, 2147483648.0},
      {u"12,5", VT_R8, 12.5},
      {u"12.5", VT_R8, 12.5},
      {u"-0,25", VT_R8, -0.25},
      {u"1e3", VT_R8, 1000},
      {u".5", VT_R8, 0.5},
      {u"5.", VT_R8, 5},
      {u"on", VT_BSTR, 0},
      {u"12 ", VT_BSTR, 0},
      {u"1,2,3", VT_BSTR, 0},
      {u"$", VT_BSTR, 0},
      {u"", VT_BSTR, 0},
      {u"1e", VT_BSTR, 0},
      {u"$1G", VT_BSTR, 0},
  };
  for (const auto& Case : Cases) {
    TVariant Value;
    MakeWriteValue(Case.Text, Value.Get());
    ASSERT_EQ(Value.Get().vt, Case.Type) << Narrow(Case.Text);
    if (Case.Type == VT_I4) {
      EXPECT_EQ(Value.Get().lVal, Case.Number) << Narrow(Case.Text);
    } else if (Case.Type == VT_R8) {
      EXPECT_DOUBLE_EQ(Value.Get().dblVal, Case.Number) << Narrow(Case.Text);
    } else {
      // Text is written as given, commas unchanged.
      EXPECT_EQ(BstrToU16(Value.Get().bstrVal), Case.Text);
    }
  }
}

}  // namespace
