#include "TextEncoding.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr char16_t Replacement = 0xFFFD;

bool IsHighSurrogate(char16_t C) {
  return C >= 0xD800 && C <= 0xDBFF;
}
bool IsLowSurrogate(char16_t C) {
  return C >= 0xDC00 && C <= 0xDFFF;
}

// Writes C as UTF-8 at Out; returns the end of what was written.
char* PutUtf8(char* Out, char32_t C) {
  if (C < 0x80) {
    *Out++ = static_cast<char>(C);
  } else if (C < 0x800) {
    *Out++ = static_cast<char>(0xC0 | (C >> 6));
    *Out++ = static_cast<char>(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    *Out++ = static_cast<char>(0xE0 | (C >> 12));
    *Out++ = static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    *Out++ = static_cast<char>(0x80 | (C & 0x3F));
  } else {
    *Out++ = static_cast<char>(0xF0 | (C >> 18));
    *Out++ = static_cast<char>(0x80 | ((C >> 12) & 0x3F));
    *Out++ = static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    *Out++ = static_cast<char>(0x80 | (C & 0x3F));
  }
  return Out;
}

// Writes C as UTF-16 at Out; returns the end of what was written.
char16_t* PutUtf16(char16_t* Out, char32_t C) {
  if (C < 0x10000) {
    *Out++ = static_cast<char16_t>(C);
  } else {
    C -= 0x10000;
    *Out++ = static_cast<char16_t>(0xD800 + (C >> 10));
    *Out++ = static_cast<char16_t>(0xDC00 + (C & 0x3FF));
  }
  return Out;
}

// Valid range of the second byte of a sequence, by its lead byte (Unicode table 3-7).
bool SecondByteValid(uint8_t Lead, uint8_t B) {
  if (Lead == 0xE0) return B >= 0xA0 && B <= 0xBF;
  if (Lead == 0xED) return B >= 0x80 && B <= 0x9F;
  if (Lead == 0xF0) return B >= 0x90 && B <= 0xBF;
  if (Lead == 0xF4) return B >= 0x80 && B <= 0x8F;
  return B >= 0x80 && B <= 0xBF;
}

int SequenceLength(uint8_t Lead) {
  if (Lead >= 0xC2 && Lead <= 0xDF) return 2;
  if (Lead >= 0xE0 && Lead <= 0xEF) return 3;
  if (Lead >= 0xF0 && Lead <= 0xF4) return 4;
  return 0;
}

}  // namespace

// Both conversions write into storage sized for the longest possible result (at most three
// UTF-8 bytes per UTF-16 unit; at most one UTF-16 unit per UTF-8 byte) and trim it afterwards.

void AppendEncoded(std::string& Out, std::u16string_view Text, TTextEncoding Encoding) {
  std::size_t Kept = Out.size();
  Out.resize(Kept + Text.size() * (Encoding == TTextEncoding::Utf8 ? 3 : 1));
  char* Put = Out.data() + Kept;
  for (std::size_t I = 0; I < Text.size(); ++I) {
    char16_t C = Text[I];
    bool Pair = IsHighSurrogate(C) && I + 1 < Text.size() && IsLowSurrogate(Text[I + 1]);
    if (C < 0x80) {
      *Put++ = static_cast<char>(C);
    } else if (Encoding == TTextEncoding::Ascii7) {
      // One '?' per character, also for a surrogate pair.
      if (Pair) ++I;
      *Put++ = '?';
    } else if (Pair) {
      Put =
          PutUtf8(Put, 0x10000 + ((char32_t(C) - 0xD800) << 10) + (char32_t(Text[I + 1]) - 0xDC00));
      ++I;
    } else if (IsHighSurrogate(C) || IsLowSurrogate(C)) {
      Put = PutUtf8(Put, Replacement);
    } else {
      Put = PutUtf8(Put, C);
    }
  }
  Out.resize(static_cast<std::size_t>(Put - Out.data()));
}

std::u16string DecodeUtf8(const char* Data, std::size_t Size) {
  const auto* Bytes = reinterpret_cast<const uint8_t*>(Data);
  std::u16string Out(Size, u'\0');
  char16_t* Put = Out.data();
  std::size_t I = 0;
  while (I < Size) {
    // Runs of ASCII, eight bytes at a time: lines are mostly ASCII.
    uint64_t Eight;
    while (I + 8 <= Size &&
           (std::memcpy(&Eight, Bytes + I, 8), (Eight & 0x8080808080808080) == 0)) {
      for (int K = 0; K < 8; ++K) Put[K] = Bytes[I + K];
      Put += 8;
      I += 8;
    }
    if (I == Size) break;
    uint8_t Lead = Bytes[I];
    if (Lead < 0x80) {
      *Put++ = Lead;
      ++I;
      continue;
    }
    int Length = SequenceLength(Lead);
    if (Length == 0) {
      *Put++ = Replacement;
      ++I;
      continue;
    }
    char32_t Code = Lead & (0x7F >> Length);
    int Taken = 1;
    for (; Taken < Length && I + Taken < Size; ++Taken) {
      uint8_t B = Bytes[I + Taken];
      bool Valid = Taken == 1 ? SecondByteValid(Lead, B) : (B >= 0x80 && B <= 0xBF);
      if (!Valid) break;
      Code = (Code << 6) | (B & 0x3F);
    }
    Put = Taken == Length ? PutUtf16(Put, Code) : (*Put = Replacement, Put + 1);
    I += Taken;
  }
  Out.resize(static_cast<std::size_t>(Put - Out.data()));
  return Out;
}
