// Text encodings of the link: lines travel as bytes, text inside the system is UTF-16.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

enum class TTextEncoding {
  Ascii7,  // 7-bit ASCII: every other character is written as one '?'
  Utf8,
};

// Appends the encoded form of Text to Out. UTF-8 writes a lone surrogate as U+FFFD.
void AppendEncoded(std::string& Out, std::u16string_view Text, TTextEncoding Encoding);

// Decodes UTF-8; each ill-formed sequence (maximal subpart) becomes one U+FFFD.
std::u16string DecodeUtf8(const char* Data, std::size_t Size);
inline std::u16string DecodeUtf8(std::string_view Bytes) {
  return DecodeUtf8(Bytes.data(), Bytes.size());
}

inline std::string EncodeUtf8(std::u16string_view Text) {
  std::string Out;
  AppendEncoded(Out, Text, TTextEncoding::Utf8);
  return Out;
}
