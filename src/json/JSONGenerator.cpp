// GenerateText: compact JSON, no blanks anywhere, fields in insertion order.
#include <array>
#include <cstring>
#include <memory>

#include "JSONText.h"
#include "NumberText.h"

namespace {

// Output collected in one buffer of UTF-16 code units, turned into the result text once at the
// end. It starts at 25000 units and grows by at least 25000 units, doubling for large output so
// that long tag lists cost linear time.
class TqvTextBuffer {
 public:
  static constexpr std::size_t kStep = 25000;

  TqvTextBuffer() : FBuf(std::make_unique_for_overwrite<char16_t[]>(kStep)), FCap(kStep) {}

  void Append(char16_t c) {
    if (FLen == FCap) Grow(1);
    FBuf[FLen++] = c;
  }

  void Append(const char16_t* s, std::size_t n) {
    std::memcpy(Reserve(n), s, n * sizeof(char16_t));
    FLen += n;
  }

  // Room for n more units at the returned position; Commit tells where writing ended.
  char16_t* Reserve(std::size_t n) {
    if (n > FCap - FLen) Grow(n);
    return FBuf.get() + FLen;
  }
  void Commit(const char16_t* end) { FLen = static_cast<std::size_t>(end - FBuf.get()); }

  std::u16string Text() const { return std::u16string(FBuf.get(), FLen); }

 private:
  void Grow(std::size_t need) {
    std::size_t cap = FCap + (FCap > kStep ? FCap : kStep);
    while (cap - FLen < need) cap += kStep;
    auto bigger = std::make_unique_for_overwrite<char16_t[]>(cap);
    std::memcpy(bigger.get(), FBuf.get(), FLen * sizeof(char16_t));
    FBuf = std::move(bigger);
    FCap = cap;
  }

  std::unique_ptr<char16_t[]> FBuf;
  std::size_t FCap;
  std::size_t FLen = 0;
};

// Escape of each ASCII code unit: 0 for none, a letter for the short forms, 'u' for \u00XX.
constexpr std::array<char, 128> MakeEscapes() {
  std::array<char, 128> e{};
  for (int c = 0; c < 0x20; ++c) e[c] = 'u';
  e['\b'] = 'b';
  e['\t'] = 't';
  e['\n'] = 'n';
  e['\f'] = 'f';
  e['\r'] = 'r';
  e['"'] = '"';
  e['\\'] = '\\';
  e['/'] = '/';
  return e;
}
constexpr std::array<char, 128> kEscapes = MakeEscapes();

bool IsSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}
bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

class TqvJSONGenerator {
 public:
  void Write(const TqvJSONbase* v) {
    if (v == nullptr) return;
    switch (v->SelfType()) {
      case jsNumber:
        WriteNumber(static_cast<const TqvJSONnumber*>(v)->ExtendedValue());
        break;
      case jsString:
        WriteString(static_cast<const TqvJSONstring*>(v)->Text());
        break;
      case jsBoolean:
        if (static_cast<const TqvJSONboolean*>(v)->BoolValue()) {
          FOut.Append(u"true", 4);
        } else {
          FOut.Append(u"false", 5);
        }
        break;
      case jsNull:
        FOut.Append(u"null", 4);
        break;
      case jsList:
        WriteElements(static_cast<const TqvJSONlist*>(v), u'[', u']');
        break;
      case jsObject:
        WriteElements(static_cast<const TqvJSONobject*>(v), u'{', u'}');
        break;
      case jsBase:
        if (const auto* pair = dynamic_cast<const TqvJSONobjectmethod*>(v)) WritePair(*pair);
        break;
    }
  }

  std::u16string Text() const { return FOut.Text(); }

 private:
  void WriteNumber(long double v) {
    char16_t* out = FOut.Reserve(kMaxNumberText);
    FOut.Commit(out + FormatNumber(v, u'.', out));
  }

  void WriteElements(const TqvJSONcustomlist* list, char16_t open, char16_t close) {
    FOut.Append(open);
    bool first = true;
    for (const TqvJSONptr& item : list->Items()) {
      if (!first) FOut.Append(u',');
      first = false;
      Write(item.get());
    }
    FOut.Append(close);
  }

  void WritePair(const TqvJSONobjectmethod& pair) {
    WriteString(pair.Name());
    FOut.Append(u':');
    Write(pair.ObjValue());
  }

  // Escapes as strict JSON needs; everything else from U+0020 up is written as itself. The text
  // would pass through UTF-8 unchanged, except a lone surrogate, which has no UTF-8 form and
  // becomes U+FFFD.
  void WriteString(const std::u16string& s) {
    const std::size_t n = s.size();
    char16_t* out = FOut.Reserve(6 * n + 2);  // no unit takes more than six
    *out++ = u'"';
    for (std::size_t i = 0; i < n; ++i) {
      const char16_t c = s[i];
      if (c < 0x80) {
        const char e = kEscapes[c];
        if (e == 0) {
          *out++ = c;
        } else {
          out = WriteEscape(out, c, e);
        }
      } else if (!IsSurrogate(c)) {
        *out++ = c;
      } else if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(s[i + 1])) {
        *out++ = c;
        *out++ = s[++i];
      } else {
        *out++ = u'\uFFFD';
      }
    }
    *out++ = u'"';
    FOut.Commit(out);
  }

  static char16_t* WriteEscape(char16_t* out, char16_t c, char e) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    *out++ = u'\\';
    *out++ = static_cast<char16_t>(e);
    if (e == 'u') {
      *out++ = u'0';
      *out++ = u'0';
      *out++ = kHex[c >> 4];
      *out++ = kHex[c & 15];
    }
    return out;
  }

  TqvTextBuffer FOut;
};

}  // namespace

std::u16string TqvJSON::GenerateText(const TqvJSONbase* obj) {
  if (obj == nullptr) return std::u16string();
  TqvJSONGenerator generator;
  generator.Write(obj);
  return generator.Text();
}
