// The configuration file's rules, independent of how the file is stored: its names and defaults,
// the integer syntax, reading and writing the four settings, and the client identifier rule.
#pragma once

#include <cstdint>
#include <optional>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

inline constexpr char16_t IniFileName[] = u"tagrelayConfig.ini";
inline constexpr char16_t IniSection[] = u"tagrelayConfig";
inline constexpr char16_t IniKeyHost[] = u"KelScadaIp";
inline constexpr char16_t IniKeyPort[] = u"KelScadaPort";
inline constexpr char16_t IniKeyUid[] = u"uid";
inline constexpr char16_t IniKeySSLSecure[] = u"IsSSLSecure";
inline constexpr char16_t IniKeyAllowWrites[] = u"AllowWrites";
inline constexpr char16_t IniKeyTlsVerify[] = u"TlsVerify";
inline constexpr char16_t IniKeyTlsPin[] = u"TlsPin";
inline constexpr char16_t IniKeyTlsServerName[] = u"TlsServerName";
inline constexpr char16_t IniKeyTlsMinVersion[] = u"TlsMinVersion";
inline constexpr char16_t IniKeyLogFile[] = u"LogFile";
inline constexpr char16_t IniKeyLogFileMaxKB[] = u"LogFileMaxKB";

struct TAppSettings {
  std::u16string Host = u"localhost";
  int32_t Port = 0;
  std::u16string Uid;
  bool SSLSecure = false;
  // Optional keys, only read: Apply writes the four above and leaves these as they are.
  bool AllowWrites = true;  // "AllowWrites" = 0 turns writing off
  std::u16string TlsVerify;
  std::u16string TlsPin;
  std::u16string TlsServerName;
  std::u16string TlsMinVersion;
};

// The optional file copy of the log, read only: its name (empty: none) and its size bound.
struct TLogFileSettings {
  std::u16string LogFile;
  int32_t LogFileMaxKB = 10240;
};

// Raised when a value cannot be stored; Text is what the user is shown.
class EIniWriteError : public std::runtime_error {
 public:
  explicit EIniWriteError(std::u16string text);
  const std::u16string& Text() const { return FText; }

 private:
  std::u16string FText;
};

// Access to one section of an INI file. ReadString returns Default when the key is missing;
// WriteString raises EIniWriteError when the value cannot be stored.
class TIniStore {
 public:
  virtual ~TIniStore() = default;
  virtual std::u16string ReadString(std::u16string_view Key, std::u16string_view Default) = 0;
  virtual void WriteString(std::u16string_view Key, std::u16string_view Value) = 0;

  int32_t ReadInteger(std::u16string_view Key, int32_t Default);
  void WriteInteger(std::u16string_view Key, int32_t Value);
};

// A 32-bit integer: leading blanks, an optional sign, then decimal digits or hexadecimal digits
// after "$", "x", "X" or "0x"; nothing may follow. Empty, malformed or out of range: nothing.
std::optional<int32_t> ParseIntText(std::u16string_view Text);

std::u16string IntToText(int32_t Value);

// A number in the general format with at most 15 significant digits, trailing zeros dropped:
// "0.000123", "0.5", "0", and below 0.0001 scientific as "1.23E-5".
std::u16string FormatGeneral(double Value);

// The client identifier made from R in [0, 1): the 10 characters after the first two of R's
// general-format text, fewer when the text is shorter.
std::u16string MakeUid(double R);

// Uniform numbers in [0, 1) with 32-bit resolution, seeded once from the clock.
class TUnitRandom {
 public:
  TUnitRandom();
  double Next();

 private:
  std::mt19937 FEngine;
};

// Reads the settings with their defaults; an empty identifier is replaced by one made from
// NextRandom() and written back at once (EIniWriteError when that fails).
TAppSettings ReadSettings(TIniStore& Store, const std::function<double()>& NextRandom);

TLogFileSettings ReadLogFileSettings(TIniStore& Store);

// Writes the four settings in their fixed order.
void WriteSettings(TIniStore& Store, const TAppSettings& Settings);
