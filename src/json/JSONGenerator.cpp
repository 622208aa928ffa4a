// GenerateText: compact JSON, no blanks anywhere, fields in insertion order.
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
    if (n > FCap - FLen) Grow(n);
    std::memcpy(FBuf.get() + FLen, s, n * sizeof(char16_t));
    FLen += n;
  }

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

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Code units written as themselves: not a control character, not one of the three escaped marks,
// not part of a surrogate pair (those are checked for being well formed).
bool IsPlain(char16_t c) {
  return c >= 0x20 && c != u'"' && c != u'\\' && c != u'/' && (c < 0xD800 || c > 0xDFFF);
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
          WriteAscii(u"true", 4);
        } else {
          WriteAscii(u"false", 5);
        }
        break;
      case jsNull:
        WriteAscii(u"null", 4);
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
  void WriteAscii(const char16_t* s, std::size_t n) { FOut.Append(s, n); }

  void WriteNumber(long double v) {
    char16_t buf[kMaxNumberText];
    FOut.Append(buf, FormatNumber(v, u'.', buf));
  }

  void WriteElements(const TqvJSONcustomlist* list, char16_t open, char16_t close) {
    FOut.Append(open);
    const int n = list->Count();
    for (int i = 0; i < n; ++i) {
      if (i > 0) FOut.Append(u',');
      Write(list->ItemAt(i));
    }
    FOut.Append(close);
  }

  void WritePair(const TqvJSONobjectmethod& pair) {
    WriteString(pair.Name());
    FOut.Append(u':');
    Write(pair.ObjValue());
  }

  // Escapes as strict JSON needs; well-formed surrogate pairs pass unchanged, while a lone
  // surrogate, which has no UTF-8 form, becomes U+FFFD.
  void WriteString(const std::u16string& s) {
    FOut.Append(u'"');
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
      std::size_t run = i;
      while (run < n && IsPlain(s[run])) ++run;
      if (run > i) {
        FOut.Append(s.data() + i, run - i);
        i = run;
        if (i == n) break;
      }
      const char16_t c = s[i];
      if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(s[i + 1])) {
        FOut.Append(s.data() + i, 2);
        i += 2;
        continue;
      }
      WriteSpecial(c);
      ++i;
    }
    FOut.Append(u'"');
  }

  void WriteSpecial(char16_t c) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    switch (c) {
      case u'"':
        WriteAscii(u"\\\"", 2);
        return;
      case u'\\':
        WriteAscii(u"\\\\", 2);
        return;
      case u'/':
        WriteAscii(u"\\/", 2);
        return;
      case u'\b':
        WriteAscii(u"\\b", 2);
        return;
      case u'\t':
        WriteAscii(u"\\t", 2);
        return;
      case u'\n':
        WriteAscii(u"\\n", 2);
        return;
      case u'\f':
        WriteAscii(u"\\f", 2);
        return;
      case u'\r':
        WriteAscii(u"\\r", 2);
        return;
      default:
        break;
    }
    if (c < 0x20) {
      const char16_t esc[] = {u'\\', u'u', u'0', u'0', kHex[c >> 4], kHex[c & 15]};
      FOut.Append(esc, 6);
      return;
    }
    FOut.Append(u'\uFFFD');  // a lone surrogate
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
