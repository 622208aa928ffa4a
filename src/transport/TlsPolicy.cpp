#include "TlsPolicy.h"

#include <cctype>

#include "TextEncoding.h"

namespace {

std::u16string Trimmed(const std::u16string& Text) {
  const auto First = Text.find_first_not_of(u" \t");
  if (First == std::u16string::npos) return u"";
  return Text.substr(First, Text.find_last_not_of(u" \t") - First + 1);
}

bool SameLetters(const std::u16string& Text, const char* Word) {
  std::size_t I = 0;
  for (; I < Text.size() && Word[I]; ++I)
    if (Text[I] > 0x7F || std::tolower(static_cast<int>(Text[I])) != Word[I]) return false;
  return I == Text.size() && !Word[I];
}

bool IsAbsolutePath(const std::u16string& Path) {
  return (!Path.empty() && (Path[0] == u'\\' || Path[0] == u'/')) ||
         (Path.size() > 1 && Path[1] == u':');
}

int HexValue(char16_t C) {
  if (C >= u'0' && C <= u'9') return C - u'0';
  if (C >= u'a' && C <= u'f') return C - u'a' + 10;
  if (C >= u'A' && C <= u'F') return C - u'A' + 10;
  return -1;
}

// One fingerprint: 64 hexadecimal digits, colons anywhere; empty when it is not one.
std::string Digest(const std::u16string& Item) {
  std::string Bytes;
  int High = -1;
  for (char16_t C : Item) {
    if (C == u':') continue;
    const int Value = HexValue(C);
    if (Value < 0) return "";
    if (High < 0) {
      High = Value;
    } else {
      Bytes.push_back(static_cast<char>(High * 16 + Value));
      High = -1;
    }
  }
  return High < 0 && Bytes.size() == 32 ? Bytes : "";
}

void ReadPins(const std::u16string& Text, TTlsPolicy& Policy) {
  std::u16string Item;
  for (std::size_t I = 0; I <= Text.size(); ++I) {
    const bool Separator = I == Text.size() || Text[I] == u',' || Text[I] == u' ' ||
                           Text[I] == u'\t' || Text[I] == u';';
    if (!Separator) {
      Item.push_back(Text[I]);
      continue;
    }
    if (Item.empty()) continue;
    const std::string Bytes = Digest(Item);
    if (Bytes.empty() && Policy.Error.empty())
      Policy.Error = u"TLS: TlsPin is not a SHA-256 fingerprint: " + Item;
    Policy.Pins.push_back(Bytes);
    Item.clear();
  }
}

void ReadMinVersion(const std::u16string& Text, TTlsPolicy& Policy) {
  if (Text.empty() || Text == u"1.0") {
    Policy.MinVersion = TLinkSSLMethod::TLSv1;
  } else if (Text == u"1.1") {
    Policy.MinVersion = TLinkSSLMethod::TLSv1_1;
  } else if (Text == u"1.2") {
    Policy.MinVersion = TLinkSSLMethod::TLSv1_2;
  } else if (Text == u"1.3") {
    Policy.MinVersion = TLinkSSLMethod::TLSv1_3;
  } else if (Policy.Error.empty()) {
    Policy.Error = u"TLS: TlsMinVersion must be 1.0, 1.1, 1.2 or 1.3, not " + Text;
  }
}

}  // namespace

TTlsPolicy MakeTlsPolicy(const std::u16string& Verify, const std::u16string& Pin,
                         const std::u16string& ServerName, const std::u16string& MinVersion,
                         const std::u16string& BaseDir) {
  TTlsPolicy Policy;
  const std::u16string Trust = Trimmed(Verify);
  if (Trust.empty() || Trust == u"0") {
    Policy.Trust = TTlsPolicy::TTrust::None;
  } else if (SameLetters(Trust, "system")) {
    Policy.Trust = TTlsPolicy::TTrust::SystemStore;
  } else {
    Policy.Trust = TTlsPolicy::TTrust::File;
    Policy.TrustFile = EncodeUtf8(IsAbsolutePath(Trust) ? Trust : BaseDir + Trust);
  }
  ReadPins(Pin, Policy);
  Policy.ServerName = EncodeUtf8(Trimmed(ServerName));
  ReadMinVersion(Trimmed(MinVersion), Policy);
  return Policy;
}

std::string FingerprintText(const std::string& Digest) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string Text;
  for (unsigned char Byte : Digest) {
    if (!Text.empty()) Text.push_back(':');
    Text.push_back(Hex[Byte >> 4]);
    Text.push_back(Hex[Byte & 15]);
  }
  return Text;
}

std::u16string FolderOf(const std::u16string& Path) {
  const auto Last = Path.find_last_of(u"\\/");
  return Last == std::u16string::npos ? u"" : Path.substr(0, Last + 1);
}

bool IsIPv4Text(const std::string& Host) {
  int Parts = 0, Digits = 0, Value = 0;
  for (char C : Host) {
    if (C == '.') {
      if (Digits == 0) return false;
      ++Parts;
      Digits = Value = 0;
    } else if (C >= '0' && C <= '9' && Digits < 3) {
      Value = Value * 10 + (C - '0');
      if (++Digits > 0 && Value > 255) return false;
    } else {
      return false;
    }
  }
  return Parts == 3 && Digits > 0;
}
