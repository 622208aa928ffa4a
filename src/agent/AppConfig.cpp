#include "AppConfig.h"

#include <chrono>
#include <cstdio>

namespace {

std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

int DigitValue(char16_t c, int base) {
  int d = -1;
  if (c >= u'0' && c <= u'9')
    d = c - u'0';
  else if (c >= u'a' && c <= u'f')
    d = c - u'a' + 10;
  else if (c >= u'A' && c <= u'F')
    d = c - u'A' + 10;
  return d < base ? d : -1;
}

}  // namespace

EIniWriteError::EIniWriteError(std::u16string text)
    : std::runtime_error(Narrow(text)), FText(std::move(text)) {}

int32_t TIniStore::ReadInteger(std::u16string_view Key, int32_t Default) {
  std::u16string text = ReadString(Key, u"");
  if (text.empty()) return Default;
  return ParseIntText(text).value_or(Default);
}

void TIniStore::WriteInteger(std::u16string_view Key, int32_t Value) {
  WriteString(Key, IntToText(Value));
}

std::optional<int32_t> ParseIntText(std::u16string_view Text) {
  size_t i = 0;
  while (i < Text.size() && Text[i] == u' ') ++i;
  bool negative = false;
  if (i < Text.size() && (Text[i] == u'+' || Text[i] == u'-')) negative = Text[i++] == u'-';
  int base = 10;
  if (i < Text.size() && (Text[i] == u'$' || Text[i] == u'x' || Text[i] == u'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < Text.size() && Text[i] == u'0' && Text[i + 1] == u'x') {
    base = 16;
    i += 2;
  }
  if (i == Text.size()) return std::nullopt;
  // Magnitude up to 2^31, enough for the most negative value; checked at every digit.
  constexpr int64_t limit = int64_t{1} << 31;
  int64_t magnitude = 0;
  for (; i < Text.size(); ++i) {
    int d = DigitValue(Text[i], base);
    if (d < 0) return std::nullopt;
    magnitude = magnitude * base + d;
    if (magnitude > limit) return std::nullopt;
  }
  if (!negative && magnitude == limit) return std::nullopt;
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

std::u16string IntToText(int32_t Value) {
  std::string s = std::to_string(Value);
  return std::u16string(s.begin(), s.end());
}

std::u16string FormatGeneral(double Value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", Value);
  std::string s = buf;
  // The C library writes the exponent with a sign and at least two digits ("E-05");
  // the general format writes "E-5", and no sign for a positive exponent.
  size_t e = s.find('E');
  if (e != std::string::npos) {
    std::string mantissa = s.substr(0, e);
    std::string exponent = s.substr(e + 1);
    std::string sign = exponent[0] == '-' ? "-" : "";
    size_t first = exponent.find_first_not_of("+-0");
    std::string digits = first == std::string::npos ? "0" : exponent.substr(first);
    s = mantissa + "E" + sign + digits;
  }
  return std::u16string(s.begin(), s.end());
}

std::u16string MakeUid(double R) {
  std::u16string text = FormatGeneral(R);
  return text.size() > 2 ? text.substr(2, 10) : std::u16string();
}

TUnitRandom::TUnitRandom()
    : FEngine(static_cast<std::mt19937::result_type>(
          std::chrono::system_clock::now().time_since_epoch().count() ^
          std::chrono::steady_clock::now().time_since_epoch().count())) {}

double TUnitRandom::Next() {
  return static_cast<uint32_t>(FEngine()) / 4294967296.0;
}

TAppSettings ReadSettings(TIniStore& Store, const std::function<double()>& NextRandom) {
  TAppSettings s;
  s.Host = Store.ReadString(IniKeyHost, u"localhost");
  s.Port = Store.ReadInteger(IniKeyPort, 0);
  s.Uid = Store.ReadString(IniKeyUid, u"");
  s.SSLSecure = Store.ReadInteger(IniKeySSLSecure, 0) == 1;
  s.AllowWrites = Store.ReadInteger(IniKeyAllowWrites, 1) != 0;
  s.TlsVerify = Store.ReadString(IniKeyTlsVerify, u"");
  s.TlsPin = Store.ReadString(IniKeyTlsPin, u"");
  s.TlsServerName = Store.ReadString(IniKeyTlsServerName, u"");
  s.TlsMinVersion = Store.ReadString(IniKeyTlsMinVersion, u"");
  if (s.Uid.empty()) {
    s.Uid = MakeUid(NextRandom());
    Store.WriteString(IniKeyUid, s.Uid);
  }
  return s;
}

TLogFileSettings ReadLogFileSettings(TIniStore& Store) {
  TLogFileSettings s;
  s.LogFile = Store.ReadString(IniKeyLogFile, u"");
  s.LogFileMaxKB = Store.ReadInteger(IniKeyLogFileMaxKB, s.LogFileMaxKB);
  return s;
}

void WriteSettings(TIniStore& Store, const TAppSettings& Settings) {
  Store.WriteString(IniKeyHost, Settings.Host);
  Store.WriteInteger(IniKeyPort, Settings.Port);
  Store.WriteString(IniKeyUid, Settings.Uid);
  Store.WriteInteger(IniKeySSLSecure, Settings.SSLSecure ? 1 : 0);
}
