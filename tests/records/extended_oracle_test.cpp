// The decimal conversion against the host's strtold (correctly rounded on x86-64), byte for
// byte, over many values across the whole range, and the long double round trip.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "link/status_records.h"
#include "oracle.h"

namespace qelta {
namespace {

using test::BytesOf;
using test::FromBytes;
using test::Oracle;

class ExtendedOracle : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::kHostHasX87LongDouble) GTEST_SKIP() << "long double is not the x87 format here";
  }

  // Checks one text against strtold; returns what the conversion gave.
  static Extended ExpectSameAsOracle(const std::string& text) {
    const test::OracleResult expected = Oracle(text);
    Extended out;
    const bool ok = TextToExtended(text, out);
    if (expected.overflowed) {
      EXPECT_FALSE(ok) << "overflow: " << Abbreviated(text);
      return Extended{};
    }
    EXPECT_TRUE(ok) << Abbreviated(text);
    EXPECT_EQ(out, expected.bytes) << Abbreviated(text);
    return out;
  }

  static std::string Abbreviated(const std::string& text) {
    if (text.size() <= 120) return text;
    return text.substr(0, 60) + "...(" + std::to_string(text.size()) + " chars)..." +
           text.substr(text.size() - 60);
  }

  std::mt19937_64 random_{20240611};

  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  std::string Digits(int count) {
    std::string digits;
    for (int i = 0; i < count; ++i) digits.push_back(static_cast<char>('0' + Uniform(0, 9)));
    return digits;
  }

  // Digits with a point somewhere (or none), a random sign and an exponent in [low, high].
  std::string RandomNumber(int digit_count, int low, int high) {
    std::string text;
    const int sign = Uniform(0, 2);
    if (sign == 1) text += "-";
    if (sign == 2) text += "+";
    std::string digits = Digits(digit_count);
    const int point = Uniform(-1, digit_count);
    if (point >= 0) digits.insert(static_cast<size_t>(point), ".");
    if (digits == ".") digits = "0.";
    text += digits;
    text += Uniform(0, 1) == 0 ? "e" : "E";
    const int exponent = Uniform(low, high);
    if (exponent >= 0 && Uniform(0, 1) == 0) text += "+";
    text += std::to_string(exponent);
    return text;
  }
};

TEST_F(ExtendedOracle, ReadingLikeWords) {
  for (int i = 0; i < 3000; ++i) {
    std::string text = std::to_string(Uniform(0, 999));
    if (Uniform(0, 3) == 0) text = "0" + text;
    if (Uniform(0, 1) == 0) text += "." + Digits(Uniform(0, 3));
    if (Uniform(0, 4) == 0) text = "-" + text;
    ExpectSameAsOracle(text);
  }
}

TEST_F(ExtendedOracle, RandomDigitsAcrossTheWholeRange) {
  // Exponents past both ends: overflow, normal, subnormal and underflow to zero.
  for (int i = 0; i < 3000; ++i) {
    ExpectSameAsOracle(RandomNumber(Uniform(1, 40), -5000, 5000));
  }
  // Near the subnormal range and the overflow threshold in particular.
  for (int i = 0; i < 1000; ++i) ExpectSameAsOracle(RandomNumber(Uniform(1, 30), -4990, -4920));
  for (int i = 0; i < 500; ++i) ExpectSameAsOracle(RandomNumber(Uniform(1, 30), 4900, 4960));
}

TEST_F(ExtendedOracle, LongDigitStrings) {
  for (int i = 0; i < 150; ++i) {
    ExpectSameAsOracle(RandomNumber(Uniform(40, 3000), -5500, 5000));
  }
  // Longer than the cut at which the conversion keeps only a sticky digit.
  for (int i = 0; i < 10; ++i) {
    ExpectSameAsOracle(RandomNumber(Uniform(12000, 14000), -17000, -12000));
  }
}

// The midpoint between a finite value and the next one up (infinity past the largest), as
// exact decimal text, and texts just below and just above it.
struct Midpoint {
  std::string below;
  std::string exact;
  std::string above;
};

Midpoint MidpointAbove(long double value) {
  const Extended bytes = BytesOf(value);
  const int biased = bytes.bytes[8] | ((bytes.bytes[9] & 0x7F) << 8);
  const long double ulp = std::ldexp(1.0L, (biased == 0 ? 1 : biased) - 16383 - 63);
  const std::string a = test::ExactFixed(value);
  const std::string twice_mid = test::AddFixed(test::AddFixed(a, a), test::ExactFixed(ulp));
  Midpoint m;
  m.exact = test::TrimFixed(test::HalveFixed(twice_mid));
  if (m.exact.find('.') != std::string::npos) {
    // A midpoint with a fraction ends in 5: dropping that digit lowers it by less than any
    // gap between neighbours.
    m.below = m.exact.substr(0, m.exact.size() - 1);
    if (m.below.back() == '.') m.below.pop_back();
    m.above = m.exact + std::string(13000, '0') + "1";
  } else {
    // A whole midpoint (half the gap is at least 1): 10^-30 below and above it.
    m.below = m.exact;
    size_t i = m.below.size() - 1;
    while (m.below[i] == '0') m.below[i--] = '9';
    --m.below[i];
    m.below += "." + std::string(30, '9');
    m.above = m.exact + "." + std::string(29, '0') + "1";
  }
  return m;
}

TEST_F(ExtendedOracle, MidpointsRoundHalfToEven) {
  std::vector<long double> values;
  auto add = [&](uint64_t significand, int biased) {
    Extended e;
    for (int i = 0; i < 8; ++i) e.bytes[i] = static_cast<uint8_t>(significand >> (8 * i));
    e.bytes[8] = static_cast<uint8_t>(biased);
    e.bytes[9] = static_cast<uint8_t>(biased >> 8);
    values.push_back(FromBytes(e));
  };
  const uint64_t top = uint64_t{1} << 63;
  const uint64_t all_ones = ~uint64_t{0};
  add(0, 0);        // 0 and the smallest subnormal
  add(1, 0);        // smallest subnormal
  add(top - 1, 0);  // largest subnormal: rounding up reaches the smallest normal
  add(top - 2, 0);
  add(top, 1);           // smallest normal
  add(all_ones, 1);      // carry into the next exponent
  add(all_ones, 16383);  // just below 2
  add(all_ones - 1, 16383);
  add(top, 16383);       // 1
  add(all_ones, 32766);  // largest finite: its midpoint overflows
  add(all_ones - 1, 32766);
  std::uniform_int_distribution<uint64_t> bits;
  for (int i = 0; i < 50; ++i) add(bits(random_) | top, Uniform(1, 32766));
  for (int i = 0; i < 15; ++i) add(bits(random_) | top, Uniform(1, 300));
  for (int i = 0; i < 12; ++i) add(bits(random_) >> Uniform(1, 63), 0);
  for (int i = 0; i < 20; ++i) add(all_ones, Uniform(1, 32765));
  for (int i = 0; i < 12; ++i) add((bits(random_) >> Uniform(1, 63)) | 1, 0);

  for (size_t i = 0; i < values.size(); ++i) {
    const long double value = values[i];
    const Midpoint m = MidpointAbove(value);
    const long double next = std::nextafter(value, HUGE_VALL);
    const bool value_is_even = (BytesOf(value).bytes[0] & 1) == 0;
    // Both signs for the chosen values, one (alternating) for the random ones.
    const bool both_signs = i < 11;
    for (const std::string s : {"", "-"}) {
      if (!both_signs && (s.empty() != (i % 2 == 0))) continue;
      const Extended below = ExpectSameAsOracle(s + m.below);
      const Extended exact = ExpectSameAsOracle(s + m.exact);
      const Extended above = ExpectSameAsOracle(s + m.above);
      const long double negate = s.empty() ? 1.0L : -1.0L;
      EXPECT_EQ(below, BytesOf(negate * value)) << Abbreviated(m.below);
      if (std::isinf(next)) {
        Extended out;
        EXPECT_FALSE(TextToExtended(s + m.above, out));
        continue;
      }
      EXPECT_EQ(exact, BytesOf(negate * (value_is_even ? value : next))) << Abbreviated(m.exact);
      EXPECT_EQ(above, BytesOf(negate * next)) << Abbreviated(m.above);
    }
  }
}

TEST_F(ExtendedOracle, ExactValuesRoundTripThroughText) {
  // The exact decimal text of a value converts back to the same bytes.
  std::uniform_int_distribution<uint64_t> bits;
  for (int i = 0; i < 100; ++i) {
    const int biased = Uniform(0, 3) == 0 ? 0 : Uniform(1, 32766);
    uint64_t significand = bits(random_);
    significand = biased == 0 ? significand >> 1 : significand | (uint64_t{1} << 63);
    Extended e;
    for (int k = 0; k < 8; ++k) e.bytes[k] = static_cast<uint8_t>(significand >> (8 * k));
    e.bytes[8] = static_cast<uint8_t>(biased);
    e.bytes[9] = static_cast<uint8_t>(biased >> 8);
    const std::string text = test::TrimFixed(test::ExactFixed(FromBytes(e)));
    Extended out;
    ASSERT_TRUE(TextToExtended(text, out)) << Abbreviated(text);
    EXPECT_EQ(out, e) << Abbreviated(text);
  }
}

TEST_F(ExtendedOracle, LongDoubleRoundTrip) {
  std::uniform_int_distribution<uint64_t> bits;
  for (int i = 0; i < 20000; ++i) {
    Extended e;
    const int biased = Uniform(0, 9) == 0 ? 0 : Uniform(1, 32766);
    uint64_t significand = bits(random_);
    significand = biased == 0 ? significand >> Uniform(1, 63) : significand | (uint64_t{1} << 63);
    for (int k = 0; k < 8; ++k) e.bytes[k] = static_cast<uint8_t>(significand >> (8 * k));
    const int top = biased | (Uniform(0, 1) << 15);
    e.bytes[8] = static_cast<uint8_t>(top);
    e.bytes[9] = static_cast<uint8_t>(top >> 8);
    const long double value = e.ToLongDouble();
    ASSERT_EQ(BytesOf(value), e);
    ASSERT_EQ(Extended::FromLongDouble(value), e);
    ASSERT_EQ(Extended::FromLongDouble(FromBytes(e)), e);
  }
  for (const long double special :
       {HUGE_VALL, -HUGE_VALL, 0.0L, -0.0L, LDBL_MAX, -LDBL_MAX, LDBL_MIN, LDBL_TRUE_MIN}) {
    EXPECT_EQ(Extended::FromLongDouble(special), BytesOf(special));
    EXPECT_EQ(Extended::FromLongDouble(special).ToLongDouble(), special);
  }
  const Extended nan = Extended::FromLongDouble(std::nanl(""));
  EXPECT_TRUE(std::isnan(nan.ToLongDouble()));
  EXPECT_TRUE(std::isnan(FromBytes(nan)));
}

}  // namespace
}  // namespace qelta
