// Reading the server-authentication settings: what each text means, and which texts are refused
// (a refused setting keeps the link closed, it never falls back to no checks).
#include <gtest/gtest.h>

#include "TlsPolicy.h"

namespace {

const std::string Digest1(32, '\xAB');
// 32 bytes of 0xAB, written with colons and mixed case.
const std::u16string Pin1 = [] {
  std::u16string Text = u"ab";
  for (int I = 1; I < 32; ++I) Text += I % 2 ? u":AB" : u":ab";
  return Text;
}();
const std::u16string Pin2 = u"0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789ABCDEF";

TTlsPolicy Make(const std::u16string& Verify, const std::u16string& Pin = u"",
                const std::u16string& Name = u"", const std::u16string& Version = u"") {
  return MakeTlsPolicy(Verify, Pin, Name, Version, u"C:\\agent\\");
}

TEST(TlsPolicyTest, NoSettingsCheckNothingAndSendNoName) {
  const TTlsPolicy Policy = Make(u"");
  EXPECT_EQ(Policy.Trust, TTlsPolicy::TTrust::None);
  EXPECT_TRUE(Policy.Pins.empty());
  EXPECT_EQ(Policy.MinVersion, TLinkSSLMethod::TLSv1);
  EXPECT_TRUE(Policy.Error.empty());
  EXPECT_FALSE(Policy.ChecksServer());
  EXPECT_FALSE(Policy.SendsName());
  EXPECT_FALSE(Make(u"0").ChecksServer());
}

TEST(TlsPolicyTest, TrustComesFromTheSystemStoreOrAFileBesideTheProgram) {
  EXPECT_EQ(Make(u"system").Trust, TTlsPolicy::TTrust::SystemStore);
  EXPECT_EQ(Make(u" System ").Trust, TTlsPolicy::TTrust::SystemStore);
  const TTlsPolicy Relative = Make(u"certs\\ca.pem");
  EXPECT_EQ(Relative.Trust, TTlsPolicy::TTrust::File);
  EXPECT_EQ(Relative.TrustFile, "C:\\agent\\certs\\ca.pem");
  EXPECT_EQ(Make(u"D:\\pki\\ca.pem").TrustFile, "D:\\pki\\ca.pem");
  EXPECT_EQ(Make(u"/etc/ca.pem").TrustFile, "/etc/ca.pem");
  EXPECT_TRUE(Make(u"ca.pem").ChecksServer());
  EXPECT_TRUE(Make(u"", u"", u"scada.example").SendsName());
}

TEST(TlsPolicyTest, PinsIgnoreColonsAndCaseAndMaySeveral) {
  const TTlsPolicy One = Make(u"", Pin1);
  ASSERT_EQ(One.Pins.size(), 1u);
  EXPECT_EQ(One.Pins[0], Digest1);
  EXPECT_TRUE(One.ChecksServer());
  for (const char16_t* Separator : {u",", u" ", u" , ", u";"}) {
    const TTlsPolicy Two = Make(u"", Pin1 + Separator + Pin2);
    EXPECT_TRUE(Two.Error.empty());
    ASSERT_EQ(Two.Pins.size(), 2u);
    EXPECT_EQ(Two.Pins[0], Digest1);
    EXPECT_EQ(FingerprintText(Two.Pins[1]).substr(0, 11), "01:23:45:67");
  }
}

TEST(TlsPolicyTest, BadValuesAreReportedNotIgnored) {
  struct TCase {
    const char* What;
    TTlsPolicy Policy;
    std::u16string Error;
  };
  const TCase Cases[] = {
      {"short pin", Make(u"", Pin2.substr(2)),
       u"TLS: TlsPin is not a SHA-256 fingerprint: " + Pin2.substr(2)},
      {"odd digit count", Make(u"", Pin2 + u"0"),
       u"TLS: TlsPin is not a SHA-256 fingerprint: " + Pin2 + u"0"},
      {"not hex", Make(u"", u"SHA256=" + Pin2),
       u"TLS: TlsPin is not a SHA-256 fingerprint: SHA256=" + Pin2},
      {"good and bad pin", Make(u"", Pin1 + u",zz"),
       u"TLS: TlsPin is not a SHA-256 fingerprint: zz"},
      {"unknown version", Make(u"", u"", u"", u"1.4"),
       u"TLS: TlsMinVersion must be 1.0, 1.1, 1.2 or 1.3, not 1.4"},
      {"version with a prefix", Make(u"", u"", u"", u"TLSv1.2"),
       u"TLS: TlsMinVersion must be 1.0, 1.1, 1.2 or 1.3, not TLSv1.2"},
  };
  for (const TCase& C : Cases) EXPECT_EQ(C.Policy.Error, C.Error) << C.What;
}

TEST(TlsPolicyTest, MinimumVersions) {
  EXPECT_EQ(Make(u"", u"", u"", u"1.0").MinVersion, TLinkSSLMethod::TLSv1);
  EXPECT_EQ(Make(u"", u"", u"", u"1.1").MinVersion, TLinkSSLMethod::TLSv1_1);
  EXPECT_EQ(Make(u"", u"", u"", u"1.2").MinVersion, TLinkSSLMethod::TLSv1_2);
  EXPECT_EQ(Make(u"", u"", u"", u" 1.3").MinVersion, TLinkSSLMethod::TLSv1_3);
}

TEST(TlsPolicyTest, AddressesAreToldFromHostNames) {
  for (const char* Address : {"127.0.0.1", "10.1.255.0", "0.0.0.0"})
    EXPECT_TRUE(IsIPv4Text(Address)) << Address;
  for (const char* Name : {"localhost", "scada.example", "1.2.3", "1.2.3.4.5", "256.1.1.1",
                           "1..2.3", "1.2.3.", "", "1.2.3.1234", "12.example.com"})
    EXPECT_FALSE(IsIPv4Text(Name)) << Name;
}

}  // namespace
