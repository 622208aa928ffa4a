#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "AppConfig.h"

namespace {

struct IntCase {
  const char16_t* Text;
  std::optional<int32_t> Expected;
};

TEST(ParseIntText, AcceptsDecimalAndHexPrefixesWithBlanksAndSign) {
  const IntCase cases[] = {
      {u"8080", 8080},
      {u"   8080", 8080},
      {u"+8080", 8080},
      {u"-1", -1},
      {u"0", 0},
      {u"007", 7},
      {u"$1F90", 8080},
      {u"x1f90", 8080},
      {u"X1F90", 8080},
      {u"0x1F90", 8080},
      {u"  -$10", -16},
      {u"-0x10", -16},
      {u"2147483647", 2147483647},
      {u"-2147483648", INT32_MIN},
      {u"$7FFFFFFF", 2147483647},
      {u"-$80000000", INT32_MIN},
      {u"70000", 70000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseIntText(c.Text), c.Expected)
        << std::string(c.Text, c.Text + std::char_traits<char16_t>::length(c.Text));
  }
}

TEST(ParseIntText, RejectsEverythingElse) {
  const char16_t* bad[] = {
      u"",    u" ",    u"8080 ",      u"80 80",       u"+",         u"-",
      u"$",   u"0x",   u"x",          u"0X10",        u"12a",       u"$1G",
      u"- 5", u"\t5",  u"2147483648", u"-2147483649", u"$80000000", u"99999999999999999999",
      u"1.5", u"0x-5",
  };
  for (const char16_t* text : bad) {
    EXPECT_EQ(ParseIntText(text), std::nullopt)
        << std::string(text, text + std::char_traits<char16_t>::length(text));
  }
}

struct UidCase {
  double R;
  const char16_t* Text;  // general format
  const char16_t* Uid;
};

TEST(MakeUid, TakesTenCharactersAfterTheFirstTwoOfTheGeneralFormat) {
  const UidCase cases[] = {
      {0.123456789012, u"0.123456789012", u"1234567890"},
      {0.1234567890123456789, u"0.123456789012346", u"1234567890"},
      {0.0012345678901234, u"0.0012345678901234", u"0012345678"},
      {0.0001, u"0.0001", u"0001"},
      {0.5, u"0.5", u"5"},
      {0.0, u"0", u""},
      {0.000012345, u"1.2345E-5", u"2345E-5"},
      {1.0 / 4294967296.0, u"2.3283064365387E-10", u"3283064365"},
      {4294967295.0 / 4294967296.0, u"0.999999999767169", u"9999999997"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatGeneral(c.R), c.Text) << c.R;
    EXPECT_EQ(MakeUid(c.R), c.Uid) << c.R;
  }
}

TEST(TUnitRandom, StaysInUnitIntervalAndVaries) {
  TUnitRandom random;
  double first = random.Next();
  bool varied = false;
  for (int i = 0; i < 1000; ++i) {
    double r = random.Next();
    ASSERT_GE(r, 0.0);
    ASSERT_LT(r, 1.0);
    varied = varied || r != first;
  }
  EXPECT_TRUE(varied);
}

// An in-memory section that records every write and can refuse them.
class TFakeStore : public TIniStore {
 public:
  std::map<std::u16string, std::u16string> Values;
  std::vector<std::pair<std::u16string, std::u16string>> Writes;
  bool FailWrites = false;

  std::u16string ReadString(std::u16string_view Key, std::u16string_view Default) override {
    auto it = Values.find(std::u16string(Key));
    return it == Values.end() ? std::u16string(Default) : it->second;
  }
  void WriteString(std::u16string_view Key, std::u16string_view Value) override {
    if (FailWrites) throw EIniWriteError(u"Unable to write to C:\\x\\tagrelayConfig.ini");
    Writes.emplace_back(Key, Value);
    Values[std::u16string(Key)] = Value;
  }
};

TEST(ReadSettings, EmptyFileGivesDefaultsAndStoresANewIdentifier) {
  TFakeStore store;
  TAppSettings s = ReadSettings(store, [] { return 0.0123456789012; });
  EXPECT_EQ(s.Host, u"localhost");
  EXPECT_EQ(s.Port, 0);
  EXPECT_FALSE(s.SSLSecure);
  EXPECT_EQ(s.Uid, u"0123456789");
  ASSERT_EQ(store.Writes.size(), 1u);
  EXPECT_EQ(store.Writes[0].first, u"uid");
  EXPECT_EQ(store.Writes[0].second, u"0123456789");
}

struct ReadCase {
  const char16_t* Port;
  const char16_t* SSL;
  int32_t ExpectedPort;
  bool ExpectedSSL;
};

TEST(ReadSettings, ReadsIntegersWithTheirSyntaxAndDefaults) {
  const ReadCase cases[] = {
      {u"0x1F90", u"1", 8080, true}, {u"$1F90", u"2", 8080, false}, {u"8080", u"0", 8080, false},
      {u"junk", u"x1", 0, true},     {u"", u"", 0, false},          {u"-5", u"$01", -5, true},
      {u"8080 x", u"yes", 0, false},
  };
  for (const auto& c : cases) {
    TFakeStore store;
    store.Values = {{u"KelScadaIp", u"scada.example"},
                    {u"uid", u"abc"},
                    {u"KelScadaPort", c.Port},
                    {u"IsSSLSecure", c.SSL}};
    TAppSettings s = ReadSettings(store, [] { return 0.5; });
    EXPECT_EQ(s.Port, c.ExpectedPort);
    EXPECT_EQ(s.SSLSecure, c.ExpectedSSL);
    EXPECT_EQ(s.Host, u"scada.example");
    EXPECT_EQ(s.Uid, u"abc");
    EXPECT_TRUE(store.Writes.empty()) << "an existing identifier is kept";
  }
}

TEST(ReadSettings, FailedIdentifierWriteRaises) {
  TFakeStore store;
  store.FailWrites = true;
  try {
    ReadSettings(store, [] { return 0.25; });
    FAIL() << "no error raised";
  } catch (const EIniWriteError& e) {
    EXPECT_EQ(e.Text(), u"Unable to write to C:\\x\\tagrelayConfig.ini");
  }
}

TEST(ReadSettings, OptionalLinkKeysAreReadAsGivenAndAbsentKeysChangeNothing) {
  TFakeStore store;
  store.Values = {{u"uid", u"abc"}};
  TAppSettings s = ReadSettings(store, [] { return 0.5; });
  EXPECT_TRUE(s.AllowWrites);
  EXPECT_EQ(s.TlsVerify + s.TlsPin + s.TlsServerName + s.TlsMinVersion, u"");
  EXPECT_EQ(WritesModeText(s), u"Writes are enabled");
  store.Values = {{u"uid", u"abc"},
                  {u"TlsVerify", u"system"},
                  {u"TlsPin", u"AB:CD"},
                  {u"TlsServerName", u"s.x"},
                  {u"TlsMinVersion", u"1.2"}};
  s = ReadSettings(store, [] { return 0.5; });
  EXPECT_EQ(s.TlsVerify, u"system");
  EXPECT_EQ(s.TlsPin, u"AB:CD");
  EXPECT_EQ(s.TlsServerName, u"s.x");
  EXPECT_EQ(s.TlsMinVersion, u"1.2");
}

// Writing is a safety switch: only an absent key or exactly "1" allows it; everything else,
// an inline comment included, turns it off and the log names the value.
TEST(ReadSettings, AllowWritesFailsClosedAndTheLogSaysWhichModeIsInForce) {
  const std::vector<std::pair<std::u16string, bool>> cases = {
      {u"1", true},           {u"0", false},  {u"0 ; read-only site", false},
      {u"false", false},      {u"no", false}, {u"off", false},
      {u"", false},           {u"2", false},  {u"$1", false},
      {u"1 ; writes", false},
  };
  for (const auto& [Text, Allowed] : cases) {
    TFakeStore store;
    store.Values = {{u"uid", u"abc"}, {u"AllowWrites", Text}};
    const TAppSettings s = ReadSettings(store, [] { return 0.5; });
    const std::string Shown(Text.begin(), Text.end());
    EXPECT_EQ(s.AllowWrites, Allowed) << Shown;
    EXPECT_EQ(WritesModeText(s),
              Allowed ? u"Writes are enabled" : u"Writes are disabled by AllowWrites=" + Text)
        << Shown;
  }
}

// "IsSSLSecure" keeps its reading (1 on, anything else off), but a value that is neither 0 nor 1
// is reported.
TEST(ReadSettings, AnIsSSLSecureValueOtherThanZeroOrOneIsReported) {
  const std::vector<std::pair<std::u16string, bool>> cases = {
      {u"", false}, {u"0", false},  {u"1", false},      {u"$01", false},
      {u"2", true}, {u"yes", true}, {u"1 ; TLS", true}, {u"true", true},
  };
  for (const auto& [Text, Reported] : cases) {
    TFakeStore store;
    store.Values = {{u"uid", u"abc"}};
    if (!Text.empty()) store.Values[u"IsSSLSecure"] = Text;
    const TAppSettings s = ReadSettings(store, [] { return 0.5; });
    const std::u16string Note = SSLSecureNote(s);
    EXPECT_EQ(Note.empty(), !Reported) << std::string(Text.begin(), Text.end());
    if (Reported) {
      EXPECT_EQ(Note, u"IsSSLSecure=" + Text + u" is neither 0 nor 1 and is read as 0: TLS is off");
      EXPECT_FALSE(s.SSLSecure);
    }
  }
}

// Only "any" (in any letter case) makes pushes count every good quality; anything else, a missing
// key included, keeps the default.
TEST(ReadSettings, AsyncGoodQualityAnyIsOptIn) {
  TFakeStore store;
  store.Values = {{u"uid", u"abc"}};
  EXPECT_FALSE(ReadSettings(store, [] { return 0.5; }).AsyncAnyGoodQuality);
  for (const auto& [Text, Any] : std::vector<std::pair<std::u16string, bool>>{{u"any", true},
                                                                              {u"ANY", true},
                                                                              {u"Any", true},
                                                                              {u"exact", false},
                                                                              {u"", false},
                                                                              {u"anything", false},
                                                                              {u"1", false},
                                                                              {u" any", false}}) {
    store.Values = {{u"uid", u"abc"}, {u"AsyncGoodQuality", Text}};
    EXPECT_EQ(ReadSettings(store, [] { return 0.5; }).AsyncAnyGoodQuality, Any)
        << std::string(Text.begin(), Text.end());
  }
}

TEST(ReadSettings, BrowseTwoTurnsTheDataAccess3BrowseOff) {
  TFakeStore store;
  store.Values = {{u"uid", u"abc"}};
  EXPECT_TRUE(ReadSettings(store, [] { return 0.5; }).BrowseElements) << "absent";
  for (const auto& [Text, Elements] :
       std::vector<std::pair<std::u16string, bool>>{{u"2", false}, {u"3", true}, {u"two", true}}) {
    store.Values = {{u"uid", u"abc"}, {u"Browse", Text}};
    EXPECT_EQ(ReadSettings(store, [] { return 0.5; }).BrowseElements, Elements)
        << std::string(Text.begin(), Text.end());
  }
}

TEST(WriteSettings, WritesFourKeysInOrderWithIntegersInDecimal) {
  TFakeStore store;
  TAppSettings s;
  s.Host = u"";
  s.Port = 70000;
  s.SSLSecure = true;
  s.AllowWrites = false;  // only read: never written back
  s.TlsPin = u"AB";
  WriteSettings(store, s);
  const std::vector<std::pair<std::u16string, std::u16string>> expected = {
      {u"KelScadaIp", u""}, {u"KelScadaPort", u"70000"}, {u"uid", u""}, {u"IsSSLSecure", u"1"}};
  EXPECT_EQ(store.Writes, expected);
  s.SSLSecure = false;
  s.Port = -16;
  store.Writes.clear();
  WriteSettings(store, s);
  EXPECT_EQ(store.Writes[1].second, u"-16");
  EXPECT_EQ(store.Writes[3].second, u"0");
}

}  // namespace
