#include "NumberText.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr std::uint64_t kTen14 = 100000000000000ULL;
constexpr std::uint64_t kTen15 = 1000000000000000ULL;

// Unsigned integer of any size, just enough arithmetic for exact decimal rounding.
class BigNum {
 public:
  explicit BigNum(std::uint64_t v) {
    while (v != 0) {
      FLimbs.push_back(static_cast<std::uint32_t>(v));
      v >>= 32;
    }
  }

  void MulSmall(std::uint32_t m) {
    std::uint64_t carry = 0;
    for (auto& limb : FLimbs) {
      const std::uint64_t p = std::uint64_t{limb} * m + carry;
      limb = static_cast<std::uint32_t>(p);
      carry = p >> 32;
    }
    if (carry != 0) FLimbs.push_back(static_cast<std::uint32_t>(carry));
  }

  void MulPow10(int n) {
    static constexpr std::uint32_t kSmall[] = {1,      10,      100,      1000,      10000,
                                               100000, 1000000, 10000000, 100000000, 1000000000};
    for (; n >= 9; n -= 9) MulSmall(kSmall[9]);
    if (n > 0) MulSmall(kSmall[n]);
  }

  void ShiftLeft(int bits) {
    if (FLimbs.empty() || bits == 0) return;
    const int whole = bits / 32;
    const int part = bits % 32;
    if (part != 0) {
      std::uint32_t carry = 0;
      for (auto& limb : FLimbs) {
        const std::uint32_t next = limb >> (32 - part);
        limb = (limb << part) | carry;
        carry = next;
      }
      if (carry != 0) FLimbs.push_back(carry);
    }
    FLimbs.insert(FLimbs.begin(), static_cast<std::size_t>(whole), 0u);
  }

  void ShiftRight1() {
    std::uint32_t carry = 0;
    for (std::size_t i = FLimbs.size(); i-- > 0;) {
      const std::uint32_t next = FLimbs[i] & 1u;
      FLimbs[i] = (FLimbs[i] >> 1) | (carry << 31);
      carry = next;
    }
    Trim();
  }

  // this -= b, where b <= this.
  void Sub(const BigNum& b) {
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < FLimbs.size(); ++i) {
      std::int64_t d = std::int64_t{FLimbs[i]} - borrow - (i < b.FLimbs.size() ? b.FLimbs[i] : 0);
      borrow = d < 0 ? 1 : 0;
      if (d < 0) d += std::int64_t{1} << 32;
      FLimbs[i] = static_cast<std::uint32_t>(d);
    }
    Trim();
  }

  friend int Compare(const BigNum& a, const BigNum& b) {
    if (a.FLimbs.size() != b.FLimbs.size()) return a.FLimbs.size() < b.FLimbs.size() ? -1 : 1;
    for (std::size_t i = a.FLimbs.size(); i-- > 0;) {
      if (a.FLimbs[i] != b.FLimbs[i]) return a.FLimbs[i] < b.FLimbs[i] ? -1 : 1;
    }
    return 0;
  }

 private:
  void Trim() {
    while (!FLimbs.empty() && FLimbs.back() == 0) FLimbs.pop_back();
  }

  std::vector<std::uint32_t> FLimbs;  // least significant first, no leading zero limbs
};

// Divides num by den, leaving the remainder in num; the quotient must be below 2^62.
std::uint64_t DivideSmallQuotient(BigNum& num, const BigNum& den) {
  constexpr int kTopBit = 61;
  BigNum d = den;
  d.ShiftLeft(kTopBit);
  std::uint64_t q = 0;
  for (int bit = kTopBit; bit >= 0; --bit) {
    if (Compare(num, d) >= 0) {
      num.Sub(d);
      q |= std::uint64_t{1} << bit;
    }
    d.ShiftRight1();
  }
  return q;
}

// A positive magnitude rounded to 15 significant digits: value = Digits * 10^(Exponent - 15),
// Digits in [10^14, 10^15).
struct Rounded15 {
  std::uint64_t Digits;
  int Exponent;
};

int DecimalLength(std::uint64_t u) {
  int n = 1;
  while (u >= 10) {
    u /= 10;
    ++n;
  }
  return n;
}

std::uint64_t Pow10(int n) {
  std::uint64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// Integers below 2^64 need no big numbers.
Rounded15 RoundInteger(std::uint64_t u) {
  const int n = DecimalLength(u);
  if (n <= 15) return {u * Pow10(15 - n), n};
  const std::uint64_t p = Pow10(n - 15);
  std::uint64_t q = u / p;
  if ((u % p) >= p - (u % p)) ++q;  // remainder >= p / 2, without overflow
  if (q == kTen15) return {kTen14, n + 1};
  return {q, n};
}

// Exact rounding of a = m * 2^b, half away from zero on the exact binary value.
Rounded15 RoundGeneral(long double a) {
  int k = 0;
  const long double f = std::frexp(a, &k);
  const auto m = static_cast<std::uint64_t>(std::ldexp(f, 64));
  const int b = k - 64;
  int e = static_cast<int>(std::floor(std::log10(a))) + 1;
  for (;;) {
    const int s = e - 15;
    BigNum num(m);
    BigNum den(1);
    if (b > 0) num.ShiftLeft(b);
    if (b < 0) den.ShiftLeft(-b);
    if (s < 0) num.MulPow10(-s);
    if (s > 0) den.MulPow10(s);
    std::uint64_t q = DivideSmallQuotient(num, den);
    if (q >= kTen15) {
      ++e;
      continue;
    }
    if (q < kTen14) {
      --e;
      continue;
    }
    num.ShiftLeft(1);  // twice the remainder against the divisor decides the rounding
    if (Compare(num, den) >= 0) ++q;
    if (q == kTen15) return {kTen14, e + 1};
    return {q, e};
  }
}

Rounded15 Round15(long double a) {
  if (a < 18446744073709551616.0L && a == std::floor(a)) {
    return RoundInteger(static_cast<std::uint64_t>(a));
  }
  return RoundGeneral(a);
}

std::size_t WriteAscii(const char* s, char16_t* out) {
  std::size_t n = 0;
  while (s[n] != 0) {
    out[n] = static_cast<char16_t>(s[n]);
    ++n;
  }
  return n;
}

}  // namespace

std::size_t FormatNumber(long double v, char16_t decimalSeparator, char16_t* out) {
  if (std::isnan(v)) return WriteAscii("NAN", out);
  if (std::isinf(v)) return WriteAscii(v < 0 ? "-INF" : "INF", out);
  if (v == 0) return WriteAscii("0", out);

  const Rounded15 r = Round15(std::fabs(v));
  char digits[16];
  std::uint64_t d = r.Digits;
  for (int i = 14; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + d % 10);
    d /= 10;
  }
  int n = 15;
  while (n > 1 && digits[n - 1] == '0') --n;
  const int e = r.Exponent;

  std::size_t len = 0;
  if (v < 0) out[len++] = u'-';
  if (e >= -3 && e <= 15) {
    if (e <= 0) {
      out[len++] = u'0';
      out[len++] = decimalSeparator;
      for (int i = 0; i < -e; ++i) out[len++] = u'0';
      for (int i = 0; i < n; ++i) out[len++] = digits[i];
    } else {
      for (int i = 0; i < e; ++i) out[len++] = i < n ? digits[i] : u'0';
      if (n > e) {
        out[len++] = decimalSeparator;
        for (int i = e; i < n; ++i) out[len++] = digits[i];
      }
    }
    return len;
  }
  out[len++] = digits[0];
  if (n > 1) {
    out[len++] = decimalSeparator;
    for (int i = 1; i < n; ++i) out[len++] = digits[i];
  }
  out[len++] = u'E';
  int x = e - 1;
  if (x < 0) {
    out[len++] = u'-';
    x = -x;
  }
  char exp[8];
  int en = 0;
  do {
    exp[en++] = static_cast<char>('0' + x % 10);
    x /= 10;
  } while (x != 0);
  while (en > 0) out[len++] = exp[--en];
  return len;
}

std::u16string FormatNumber(long double v, char16_t decimalSeparator) {
  char16_t buf[kMaxNumberText];
  return std::u16string(buf, FormatNumber(v, decimalSeparator, buf));
}

namespace {

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

// Powers of ten up to 10^27 are exact in the 64-bit significand.
constexpr long double kExactPow10[] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,
                                       1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
                                       1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L,
                                       1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
constexpr long double kBigPow10[] = {1e16L,  1e32L,   1e64L,   1e128L, 1e256L,
                                     1e512L, 1e1024L, 1e2048L, 1e4096L};

// r * 10^e (or r / 10^-e), one factor at a time; each step moves r monotonically toward the
// result, so no intermediate overflows or underflows unless the result does.
long double ScaleByPow10(long double r, std::int64_t e) {
  const bool down = e < 0;
  std::uint64_t n = static_cast<std::uint64_t>(down ? -e : e);
  if (n <= 27) return down ? r / kExactPow10[n] : r * kExactPow10[n];
  const long double low = kExactPow10[n & 15];
  r = down ? r / low : r * low;
  n >>= 4;
  for (std::size_t i = 0; n != 0 && i < std::size(kBigPow10); ++i, n >>= 1) {
    if ((n & 1) != 0) r = down ? r / kBigPow10[i] : r * kBigPow10[i];
  }
  return r;
}

// An unsigned 128-bit integer for the kept digits, written out so both bitnesses have it.
struct TMantissa {
  std::uint64_t High = 0;
  std::uint64_t Low = 0;

  bool IsZero() const { return High == 0 && Low == 0; }

  // this * 10 + d; the kept digits stay below 10^38 < 2^127, so High never overflows.
  void AppendDigit(unsigned d) {
    const std::uint64_t times8 = Low << 3;
    const std::uint64_t times2 = Low << 1;
    std::uint64_t carry = (Low >> 61) + (Low >> 63);
    const std::uint64_t times10 = times8 + times2;
    carry += times10 < times8 ? 1 : 0;
    const std::uint64_t sum = times10 + d;
    carry += sum < times10 ? 1 : 0;
    High = High * 10 + carry;
    Low = sum;
  }

  // The nearest long double (64-bit significand), ties to even, as a cast of a native 128-bit
  // integer gives.
  long double ToLongDouble() const {
    if (High == 0) return static_cast<long double>(Low);
    const int dropped = 64 - std::countl_zero(High);  // bits below the top 64, 1..63
    std::uint64_t top = (High << (64 - dropped)) | (Low >> dropped);
    const std::uint64_t rest = Low & ((std::uint64_t{1} << dropped) - 1);
    const std::uint64_t half = std::uint64_t{1} << (dropped - 1);
    int scale = dropped;
    if (rest > half || (rest == half && (top & 1) != 0)) {
      if (++top == 0) {
        top = std::uint64_t{1} << 63;
        ++scale;
      }
    }
    return std::ldexp(static_cast<long double>(top), scale);
  }
};

}  // namespace

bool ConvertNumberText(std::u16string_view text, long double& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';

  // Up to 38 significant digits are kept exactly in 128 bits; later ones only scale.
  constexpr int kKeep = 38;
  TMantissa m;
  int kept = 0;
  std::int64_t exp10 = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    const unsigned d = text[i] - u'0';
    if (kept < kKeep) {
      if (!m.IsZero() || d != 0) {
        m.AppendDigit(d);
        ++kept;
      }
    } else {
      ++exp10;
    }
  }
  if (i < text.size() && text[i] == u'.') {
    for (++i; i < text.size() && IsDigit(text[i]); ++i) {
      if (kept >= kKeep) continue;
      const unsigned d = text[i] - u'0';
      if (!m.IsZero() || d != 0) {
        m.AppendDigit(d);
        ++kept;
      }
      --exp10;
    }
  }
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ++i;
    bool expNegative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) expNegative = text[i++] == u'-';
    std::int64_t x = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
      if (x < 1000000) x = x * 10 + (text[i] - u'0');  // beyond that the outcome is settled
    }
    exp10 += expNegative ? -x : x;
  }

  if (m.IsZero()) {
    value = negative ? -0.0L : 0.0L;
    return true;
  }
  // The magnitude lies in [10^(kept - 1 + exp10), 10^(kept + exp10)).
  const std::int64_t magnitude = kept + exp10;
  if (magnitude > 4934) return false;
  long double r = 0;
  if (magnitude >= -4952) r = ScaleByPow10(m.ToLongDouble(), exp10);
  if (std::isinf(r)) return false;
  value = negative ? -r : r;
  return true;
}
