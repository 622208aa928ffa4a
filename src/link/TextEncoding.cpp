#include "TextEncoding.h"

#include <cstdint>

namespace {

constexpr char16_t Replacement = 0xFFFD;

bool IsHighSurrogate(char16_t C) {
  return C >= 0xD800 && C <= 0xDBFF;
}
bool IsLowSurrogate(char16_t C) {
  return C >= 0xDC00 && C <= 0xDFFF;
}

void AppendUtf8(std::string& Out, char32_t C) {
  if (C < 0x80) {
    Out.push_back(static_cast<char>(C));
  } else if (C < 0x800) {
    Out.push_back(static_cast<char>(0xC0 | (C >> 6)));
    Out.push_back(static_cast<char>(0x80 | (C & 0x3F)));
  } else if (C < 0x10000) {
    Out.push_back(static_cast<char>(0xE0 | (C >> 12)));
    Out.push_back(static_cast<char>(0x80 | ((C >> 6) & 0x3F)));
    Out.push_back(static_cast<char>(0x80 | (C & 0x3F)));
  } else {
    Out.push_back(static_cast<char>(0xF0 | (C >> 18)));
    Out.push_back(static_cast<char>(0x80 | ((C >> 12) & 0x3F)));
    Out.push_back(static_cast<char>(0x80 | ((C >> 6) & 0x3F)));
    Out.push_back(static_cast<char>(0x80 | (C & 0x3F)));
  }
}

void AppendUtf16(std::u16string& Out, char32_t C) {
  if (C < 0x10000) {
    Out.push_back(static_cast<char16_t>(C));
  } else {
    C -= 0x10000;
    Out.push_back(static_cast<char16_t>(0xD800 + (C >> 10)));
    Out.push_back(static_cast<char16_t>(0xDC00 + (C & 0x3FF)));
  }
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

void AppendEncoded(std::string& Out, std::u16string_view Text, TTextEncoding Encoding) {
  Out.reserve(Out.size() + Text.size());
  for (std::size_t I = 0; I < Text.size(); ++I) {
    char16_t C = Text[I];
    if (C < 0x80) {
      Out.push_back(static_cast<char>(C));
    } else if (Encoding == TTextEncoding::Ascii7) {
      // One '?' per character, also for a surrogate pair.
      if (IsHighSurrogate(C) && I + 1 < Text.size() && IsLowSurrogate(Text[I + 1])) ++I;
      Out.push_back('?');
    } else if (IsHighSurrogate(C) && I + 1 < Text.size() && IsLowSurrogate(Text[I + 1])) {
      char32_t Code = 0x10000 + ((char32_t(C) - 0xD800) << 10) + (char32_t(Text[I + 1]) - 0xDC00);
      AppendUtf8(Out, Code);
      ++I;
    } else if (IsHighSurrogate(C) || IsLowSurrogate(C)) {
      AppendUtf8(Out, Replacement);
    } else {
      AppendUtf8(Out, C);
    }
  }
}

std::u16string DecodeUtf8(const char* Data, std::size_t Size) {
  const auto* Bytes = reinterpret_cast<const uint8_t*>(Data);
  std::u16string Out;
  Out.reserve(Size);
  std::size_t I = 0;
  while (I < Size) {
    uint8_t Lead = Bytes[I];
    if (Lead < 0x80) {
      Out.push_back(Lead);
      ++I;
      continue;
    }
    int Length = SequenceLength(Lead);
    if (Length == 0) {
      Out.push_back(Replacement);
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
    if (Taken == Length) {
      AppendUtf16(Out, Code);
    } else {
      Out.push_back(Replacement);
    }
    I += Taken;
  }
  return Out;
}
