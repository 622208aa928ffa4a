// ParseText: a recursive descent over the text by position, with the leniencies the SCADA side
// relies on (any control character is a blank, commas may be missing or trail, literals and
// numbers end wherever their grammar ends, unknown escapes vanish).
#include <cstddef>
#include <new>

#include "JSONText.h"
#include "NumberText.h"

namespace {

// Ends the whole parse with an absent result; unique_ptr frees what was built on the way out.
struct ParseAbort {};

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

class TqvJSONParser {
 public:
  explicit TqvJSONParser(std::u16string_view text, std::size_t start) : FText(text), FPos(start) {}

  // Value rule: skip blanks, then a literal, a number, a string, a list or an object. Every
  // rule either succeeds and moves past what it read, or fails and leaves the position alone.
  TqvJSONptr ParseValue() {
    const std::size_t start = FPos;
    SkipBlanks();
    TqvJSONptr v;
    switch (Peek()) {
      case u't':
      case u'f':
      case u'n':
        v = ParseLiteral();
        break;
      case u'"': {
        std::u16string s;
        if (ParseString(s)) v = TqvJSONstring::Generate(std::move(s));
        break;
      }
      case u'[':
        v = ParseList();
        break;
      case u'{':
        v = ParseObject();
        break;
      default:
        if (Peek() == u'+' || Peek() == u'-' || IsDigit(Peek())) v = ParseNumber();
    }
    if (!v) FPos = start;
    return v;
  }

 private:
  char16_t Peek() const { return FPos < FText.size() ? FText[FPos] : u'\0'; }
  bool AtEnd() const { return FPos >= FText.size(); }

  void SkipBlanks() {
    while (FPos < FText.size() && FText[FPos] <= u' ') ++FPos;
  }

  bool Matches(std::u16string_view word) const { return FText.substr(FPos, word.size()) == word; }

  TqvJSONptr ParseLiteral() {
    if (Matches(u"true")) {
      FPos += 4;
      return TqvJSONboolean::Generate(true);
    }
    if (Matches(u"false")) {
      FPos += 5;
      return TqvJSONboolean::Generate(false);
    }
    if (Matches(u"null")) {
      FPos += 4;
      return std::make_unique<TqvJSONnull>();
    }
    return nullptr;
  }

  bool SkipDigits() {
    const std::size_t start = FPos;
    while (!AtEnd() && IsDigit(FText[FPos])) ++FPos;
    return FPos > start;
  }

  TqvJSONptr ParseNumber() {
    const std::size_t start = FPos;
    if (Peek() == u'+' || Peek() == u'-') ++FPos;
    bool ok = SkipDigits();
    if (ok && Peek() == u'.') {
      ++FPos;
      ok = SkipDigits();
    }
    if (ok && (Peek() == u'e' || Peek() == u'E')) {
      ++FPos;
      if (Peek() == u'+' || Peek() == u'-') ++FPos;
      ok = SkipDigits();
    }
    if (!ok) {
      FPos = start;
      return nullptr;
    }
    long double v = 0;
    if (!ConvertNumberText(FText.substr(start, FPos - start), v)) throw ParseAbort{};
    return TqvJSONnumber::Generate(v);
  }

  // String rule: the content runs to the first quotation mark not taken by a backslash.
  bool ParseString(std::u16string& out) {
    if (Peek() != u'"') return false;
    std::size_t i = FPos + 1;
    bool escaped = false;
    while (i < FText.size() && FText[i] != u'"') {
      if (FText[i] == u'\\') {
        escaped = true;
        ++i;
      }
      ++i;
    }
    if (i >= FText.size()) return false;
    const std::u16string_view content = FText.substr(FPos + 1, i - FPos - 1);
    if (escaped) {
      Decode(content, out);
    } else {
      out.assign(content);
    }
    FPos = i + 1;
    return true;
  }

  static void Decode(std::u16string_view content, std::u16string& out) {
    out.reserve(content.size());
    for (std::size_t i = 0; i < content.size(); ++i) {
      const char16_t c = content[i];
      if (c != u'\\') {
        out.push_back(c);
        continue;
      }
      if (++i >= content.size()) break;
      switch (content[i]) {
        case u'"':
          out.push_back(u'"');
          break;
        case u'\\':
          out.push_back(u'\\');
          break;
        case u'/':
          out.push_back(u'/');
          break;
        case u'\'':
          out.push_back(u'\'');
          break;
        case u'b':
          out.push_back(u'\b');
          break;
        case u'f':
          out.push_back(u'\f');
          break;
        case u'n':
          out.push_back(u'\n');
          break;
        case u'r':
          out.push_back(u'\r');
          break;
        case u't':
          out.push_back(u'\t');
          break;
        case u'u':
          out.push_back(DecodeHex(content, i));
          break;
        default:
          break;  // an unknown escape drops both code units
      }
    }
  }

  // Up to four hexadecimal digits after "\u" (fewer only where the content ends), at least one.
  static char16_t DecodeHex(std::u16string_view content, std::size_t& i) {
    std::size_t n = 0;
    unsigned value = 0;
    while (n < 4 && i + 1 < content.size()) {
      const int h = HexValue(content[i + 1]);
      if (h < 0) throw ParseAbort{};
      value = value * 16 + static_cast<unsigned>(h);
      ++i;
      ++n;
    }
    if (n == 0) throw ParseAbort{};
    return static_cast<char16_t>(value);
  }

  // Guards the recursion of nested lists and objects.
  class DepthGuard {
   public:
    explicit DepthGuard(int& depth) : FDepth(depth) {
      if (++FDepth > TqvJSON::kMaxDepth) throw ParseAbort{};
    }
    ~DepthGuard() { --FDepth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

   private:
    int& FDepth;
  };

  // List rule: values with optional commas between them and after the last, then "]".
  TqvJSONptr ParseList() {
    const std::size_t start = FPos;
    DepthGuard guard(FDepth);
    ++FPos;
    auto list = TqvJSONlist::Generate();
    for (;;) {
      TqvJSONptr v = ParseValue();
      const bool read = v != nullptr;
      if (read) list->Add(std::move(v));
      SkipBlanks();
      if (!read) break;
      if (Peek() == u',') ++FPos;
    }
    if (Peek() != u']') {
      FPos = start;
      return nullptr;
    }
    ++FPos;
    return list;
  }

  // Object rule: as the list rule, with fields "name": value between "{" and "}".
  TqvJSONptr ParseObject() {
    const std::size_t start = FPos;
    DepthGuard guard(FDepth);
    ++FPos;
    auto object = TqvJSONobject::Generate(true);
    for (;;) {
      const bool read = ParseField(*object);
      SkipBlanks();
      if (!read) break;
      if (Peek() == u',') ++FPos;
    }
    if (Peek() != u'}') {
      FPos = start;
      return nullptr;
    }
    ++FPos;
    return object;
  }

  bool ParseField(TqvJSONobject& object) {
    const std::size_t start = FPos;
    SkipBlanks();
    std::u16string name;
    if (ParseString(name)) {
      SkipBlanks();
      if (Peek() == u':') {
        ++FPos;
        TqvJSONptr v = ParseValue();
        if (v) {
          object.Add(std::move(name), std::move(v));
          return true;
        }
      }
    }
    FPos = start;
    return false;
  }

  std::u16string_view FText;
  std::size_t FPos;
  int FDepth = 0;
};

// The UTF-8 byte order mark, read as if it were Windows-1251 text.
constexpr char16_t kMisreadBom[] = {0x043F, 0x00BB, 0x0457};

}  // namespace

TqvJSONptr TqvJSON::ParseText(std::u16string_view txt) {
  if (txt.empty()) return nullptr;
  std::size_t start = 0;
  if (txt.substr(0, 3) == std::u16string_view(kMisreadBom, 3)) start = 3;
  if (start >= txt.size()) return nullptr;
  try {
    TqvJSONParser parser(txt, start);
    return parser.ParseValue();
  } catch (const ParseAbort&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
