// The 10-byte extended float: exact decimal conversion and conversion to and from long double.
//
// The decimal conversion works on exact integers so that its result does not depend on the
// host's floating-point types: the value D × 10^E is written as num / den × 2^shift, the
// quotient is taken to 64 bits by binary long division and rounded half to even from the
// remainder.

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "link/status_records.h"

namespace qelta {
namespace {

constexpr int kExponentBias = 16383;
constexpr int kMaxBiasedExponent = 0x7FFE;  // 0x7FFF is infinity and NaN
// A significand q with biased exponent e >= 1 stands for q × 2^(e - kExponentBias - 63);
// with e == 0 (subnormal) for q × 2^kSubnormalShift.
constexpr int kSubnormalShift = 1 - kExponentBias - 63;  // -16445

// A decimal number with more significant digits than this is cut there and a nonzero digit is
// put after the cut when anything nonzero was cut off. Every value the format can represent,
// and every midpoint between two neighbours, has fewer than 11 600 significant digits, so the
// cut never moves the value across one of them and the rounding stays exact.
constexpr size_t kMaxDigits = 12000;
// Decimal magnitudes outside these bounds need no arithmetic: a value of at least 10^4934 is
// beyond the largest finite value (about 1.19e4932), and one below 10^-4952 is less than half
// the smallest subnormal (about 3.65e-4951), so it rounds to zero.
constexpr int64_t kOverflowMagnitude = 4934;
constexpr int64_t kUnderflowMagnitude = -4952;
// Counters of the parser stop here; no text can be long enough to reach it.
constexpr int64_t kCounterLimit = int64_t{1} << 50;

// A non-negative integer, 32-bit limbs, least significant first, no leading zero limbs.
class BigUint {
 public:
  BigUint() = default;
  explicit BigUint(uint64_t value) {
    while (value != 0) {
      limbs_.push_back(static_cast<uint32_t>(value));
      value >>= 32;
    }
  }

  bool IsZero() const { return limbs_.empty(); }

  int64_t BitLength() const {
    if (limbs_.empty()) return 0;
    uint32_t top = limbs_.back();
    int bits = 0;
    while (top != 0) {
      ++bits;
      top >>= 1;
    }
    return static_cast<int64_t>(limbs_.size() - 1) * 32 + bits;
  }

  void MulAdd(uint32_t factor, uint32_t addend) {
    uint64_t carry = addend;
    for (uint32_t& limb : limbs_) {
      const uint64_t product = uint64_t{limb} * factor + carry;
      limb = static_cast<uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<uint32_t>(carry));
    Trim();
  }

  void ShiftLeft(int64_t bits) {
    if (limbs_.empty() || bits <= 0) return;
    const size_t whole = static_cast<size_t>(bits / 32);
    const int part = static_cast<int>(bits % 32);
    if (part != 0) {
      uint32_t carry = 0;
      for (uint32_t& limb : limbs_) {
        const uint32_t next = limb >> (32 - part);
        limb = (limb << part) | carry;
        carry = next;
      }
      if (carry != 0) limbs_.push_back(carry);
    }
    limbs_.insert(limbs_.begin(), whole, 0u);
  }

  void ShiftRightOne() {
    for (size_t i = 0; i < limbs_.size(); ++i) {
      const uint32_t high = i + 1 < limbs_.size() ? limbs_[i + 1] << 31 : 0u;
      limbs_[i] = (limbs_[i] >> 1) | high;
    }
    Trim();
  }

  // -1, 0 or 1 as *this is less than, equal to or greater than other.
  int Compare(const BigUint& other) const {
    if (limbs_.size() != other.limbs_.size()) return limbs_.size() < other.limbs_.size() ? -1 : 1;
    for (size_t i = limbs_.size(); i-- > 0;) {
      if (limbs_[i] != other.limbs_[i]) return limbs_[i] < other.limbs_[i] ? -1 : 1;
    }
    return 0;
  }

  // *this -= other; requires *this >= other.
  void Subtract(const BigUint& other) {
    uint64_t borrow = 0;
    for (size_t i = 0; i < limbs_.size(); ++i) {
      const uint64_t sub = (i < other.limbs_.size() ? other.limbs_[i] : 0u) + borrow;
      const uint64_t limb = limbs_[i];
      borrow = limb < sub ? 1 : 0;
      limbs_[i] = static_cast<uint32_t>(limb - sub);  // wraps when borrowing
    }
    Trim();
  }

 private:
  void Trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }

  std::vector<uint32_t> limbs_;
};

BigUint FromDecimalDigits(const std::string& digits) {
  BigUint value;
  size_t i = 0;
  while (i < digits.size()) {
    uint32_t chunk = 0;
    uint32_t scale = 1;
    for (int k = 0; k < 9 && i < digits.size(); ++k, ++i) {
      chunk = chunk * 10 + static_cast<uint32_t>(digits[i] - '0');
      scale *= 10;
    }
    value.MulAdd(scale, chunk);
  }
  return value;
}

void MultiplyByPowerOfFive(BigUint& value, int64_t exponent) {
  constexpr uint32_t kFiveToThirteen = 1220703125;  // the largest power of 5 below 2^32
  for (; exponent >= 13; exponent -= 13) value.MulAdd(kFiveToThirteen, 0);
  uint32_t rest = 1;
  for (; exponent > 0; --exponent) rest *= 5;
  value.MulAdd(rest, 0);
}

Extended Encode(bool negative, uint64_t significand, int biased_exponent) {
  Extended result;
  for (int i = 0; i < 8; ++i) result.bytes[i] = static_cast<uint8_t>(significand >> (8 * i));
  const unsigned top = (negative ? 0x8000u : 0u) | static_cast<unsigned>(biased_exponent);
  result.bytes[8] = static_cast<uint8_t>(top);
  result.bytes[9] = static_cast<uint8_t>(top >> 8);
  return result;
}

Extended SignedZero(bool negative) {
  return Encode(negative, 0, 0);
}

// Rounds digits × 10^exponent (digits: decimal, no leading or trailing zero, not empty) to the
// format. False when the result is beyond the largest finite value.
bool RoundDecimal(bool negative, const std::string& digits, int64_t exponent, Extended& out) {
  // Value = num / den × 2^binary_shift.
  BigUint num = FromDecimalDigits(digits);
  BigUint den(1);
  const int64_t binary_shift = exponent;
  if (exponent >= 0) {
    MultiplyByPowerOfFive(num, exponent);
  } else {
    MultiplyByPowerOfFive(den, -exponent);
  }

  // k = floor(log2(num / den)): ln - ld or one less.
  const int64_t length_difference = num.BitLength() - den.BitLength();
  int64_t k = length_difference;
  {
    BigUint a = num;
    BigUint b = den;
    if (length_difference > 0) {
      b.ShiftLeft(length_difference);
    } else {
      a.ShiftLeft(-length_difference);
    }
    if (a.Compare(b) < 0) --k;
  }

  // The quotient is taken at 2^scale: 64 bits for a normal result, fewer for a subnormal one.
  int64_t scale = k + binary_shift - 63;
  if (scale < kSubnormalShift) scale = kSubnormalShift;
  if (scale + 63 + kExponentBias > kMaxBiasedExponent) return false;

  // q = floor(num / den × 2^(binary_shift - scale)) < 2^64.
  const int64_t to_quotient = binary_shift - scale;
  if (to_quotient >= 0) {
    num.ShiftLeft(to_quotient);
  } else {
    den.ShiftLeft(-to_quotient);
  }
  BigUint step = den;
  step.ShiftLeft(63);
  uint64_t q = 0;
  for (int bit = 63; bit >= 0; --bit) {
    if (num.Compare(step) >= 0) {
      num.Subtract(step);
      q |= uint64_t{1} << bit;
    }
    step.ShiftRightOne();
  }

  // num is now the remainder; compare it with half the divisor.
  num.ShiftLeft(1);
  const int half = num.Compare(den);
  if (half > 0 || (half == 0 && (q & 1) != 0)) {
    ++q;
    if (q == 0) {  // 2^64: one bit more
      q = uint64_t{1} << 63;
      ++scale;
    }
  }

  int biased = 0;
  if ((q >> 63) != 0) {
    biased = static_cast<int>(scale + 63 + kExponentBias);
    if (biased > kMaxBiasedExponent) return false;
  }
  out = Encode(negative, q, biased);
  return true;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

long double Extended::ToLongDouble() const {
  uint64_t significand = 0;
  for (int i = 7; i >= 0; --i) significand = (significand << 8) | bytes[i];
  const unsigned top = static_cast<unsigned>(bytes[8]) | (static_cast<unsigned>(bytes[9]) << 8);
  const bool negative = (top & 0x8000u) != 0;
  const int biased = static_cast<int>(top & 0x7FFFu);
  long double magnitude;
  if (biased == 0x7FFF) {
    magnitude = (significand << 1) == 0 ? std::numeric_limits<long double>::infinity()
                                        : std::numeric_limits<long double>::quiet_NaN();
  } else {
    const int exponent = (biased == 0 ? 1 : biased) - kExponentBias - 63;
    magnitude = std::ldexp(static_cast<long double>(significand), exponent);
  }
  return negative ? -magnitude : magnitude;
}

Extended Extended::FromLongDouble(long double value) {
  const bool negative = std::signbit(value);
  if (std::isnan(value)) return Encode(negative, uint64_t{3} << 62, 0x7FFF);
  if (std::isinf(value)) return Encode(negative, uint64_t{1} << 63, 0x7FFF);
  if (value == 0) return SignedZero(negative);

  int exponent = 0;
  const long double fraction = std::frexp(std::fabs(value), &exponent);  // in [0.5, 1)
  // value = fraction × 2^exponent = significand × 2^(exponent - 64) with 64 significand bits.
  int biased = exponent - 64 + 63 + kExponentBias;
  int bits = 64;
  if (biased < 1) {  // subnormal: the significand keeps fewer bits
    bits = 64 - (1 - biased);
    biased = 0;
  }
  // Rounds half to even when long double has more than 64 significand bits or a subnormal
  // result drops some; exact otherwise.
  const long double scaled = bits < -1 ? 0.0L : std::ldexp(fraction, bits);
  long double whole = std::floor(scaled);
  const long double rest = scaled - whole;
  if (rest > 0.5L || (rest == 0.5L && std::fmod(whole, 2.0L) != 0)) whole += 1;
  uint64_t significand;
  if (whole >= std::ldexp(1.0L, 64)) {
    significand = uint64_t{1} << 63;
    ++biased;
  } else {
    significand = static_cast<uint64_t>(whole);
  }
  if (biased == 0 && (significand >> 63) != 0) biased = 1;  // rounded up to the smallest normal
  if (biased > kMaxBiasedExponent) return Encode(negative, uint64_t{1} << 63, 0x7FFF);
  return Encode(negative, significand, biased);
}

bool TextToExtended(std::string_view text, Extended& out) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }

  // Significant digits (from the first nonzero one), kept up to kMaxDigits.
  std::string digits;
  bool any_digit = false;
  bool cut_nonzero = false;
  int64_t cut_count = 0;
  int64_t fraction_count = 0;
  auto take = [&](char c) {
    any_digit = true;
    if (digits.empty() && c == '0') return;
    if (digits.size() < kMaxDigits) {
      digits.push_back(c);
    } else {
      if (cut_count < kCounterLimit) ++cut_count;
      if (c != '0') cut_nonzero = true;
    }
  };
  while (i < n && IsDigit(text[i])) take(text[i++]);
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) {
      take(text[i++]);
      if (fraction_count < kCounterLimit) ++fraction_count;
    }
  }
  if (!any_digit) return false;

  int64_t exponent = 0;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exponent_negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
      exponent_negative = text[i] == '-';
      ++i;
    }
    if (i >= n || !IsDigit(text[i])) return false;
    while (i < n && IsDigit(text[i])) {
      if (exponent < kCounterLimit) exponent = exponent * 10 + (text[i] - '0');
      ++i;
    }
    if (exponent_negative) exponent = -exponent;
  }
  if (i != n) return false;

  if (digits.empty()) {
    out = SignedZero(negative);
    return true;
  }
  exponent += cut_count - fraction_count;
  if (cut_nonzero) {
    digits.push_back('1');
    --exponent;
  } else {
    while (digits.back() == '0') {
      digits.pop_back();
      ++exponent;
    }
  }
  // digits × 10^exponent lies in [10^(magnitude - 1), 10^magnitude).
  const int64_t magnitude = static_cast<int64_t>(digits.size()) + exponent;
  if (magnitude > kOverflowMagnitude) return false;
  if (magnitude < kUnderflowMagnitude) {
    out = SignedZero(negative);
    return true;
  }
  return RoundDecimal(negative, digits, exponent, out);
}

Extended DecimalToExtended(std::string_view text) {
  Extended result;
  if (!TextToExtended(text, result)) return Extended{};
  return result;
}

long double DecimalToLongDouble(std::string_view text) {
  return DecimalToExtended(text).ToLongDouble();
}

}  // namespace qelta
