// Which texts the decimal and integer conversions accept, and what they make of them.

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "link/status_records.h"
#include "oracle.h"

namespace qelta {
namespace {

using test::BytesOf;

const Extended kSentinel = BytesOf(-123.25L);

TEST(DecimalSyntax, AcceptedFormsGiveTheirValue) {
  struct Case {
    const char* text;
    long double value;
  };
  const std::vector<Case> cases = {
      {"230.5", 230.5L}, {"-5", -5.0L},       {"+7", 7.0L},       {"045", 45.0L},
      {"1.", 1.0L},      {".5", 0.5L},        {"-.25", -0.25L},   {"   49.9", 49.9L},
      {"1e3", 1000.0L},  {"1E3", 1000.0L},    {"2.5e+2", 250.0L}, {"25e-1", 2.5L},
      {"0", 0.0L},       {"000.000", 0.0L},   {"0e5", 0.0L},      {"1.e2", 100.0L},
      {".5E-1", 0.05L},  {"12.34e0", 12.34L}, {"0.1", 0.1L},      {" -0.0001", -0.0001L},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Extended out = kSentinel;
    ASSERT_TRUE(TextToExtended(c.text, out));
    if constexpr (test::kHostHasX87LongDouble) {
      // The literal itself is correctly rounded by the compiler.
      EXPECT_EQ(out, BytesOf(c.value));
    }
    EXPECT_EQ(out.ToLongDouble(), c.value);
    EXPECT_EQ(DecimalToExtended(c.text), out);
    EXPECT_EQ(DecimalToLongDouble(c.text), c.value);
  }
}

TEST(DecimalSyntax, NegativeZeroKeepsItsSign) {
  for (const char* text : {"-0", "-0.000", "-0e99", "-1e-99999"}) {
    SCOPED_TRACE(text);
    const Extended value = DecimalToExtended(text);
    EXPECT_EQ(value.bytes[9], 0x80);
    for (size_t i = 0; i < 9; ++i) EXPECT_EQ(value.bytes[i], 0);
    EXPECT_TRUE(std::signbit(value.ToLongDouble()));
    EXPECT_EQ(value.ToLongDouble(), 0.0L);
  }
  EXPECT_EQ(DecimalToExtended("0"), Extended{});
  EXPECT_EQ(DecimalToExtended("+0"), Extended{});
}

TEST(DecimalSyntax, AnythingElseIsNotANumber) {
  const std::vector<std::string> rejected = {
      "",       " ",     "230,5", "inf", "-inf",  "infinity", "nan",   "NaN",
      "0x1A",   "0X1p3", "1e",    "1e+", "1E-",   "e5",       ".",     "-.",
      "+",      "-",     "+-1",   "--1", "1.2.3", "1..",      "..5",   "49.9\r",
      "49.9\n", "49.9 ", "49 .9", "4 9", "\t1",   "1e5.5",    "1e 5",  "1 e5",
      "١٢",     "12a",   "a12",   "$1A", "1_000", "1'000",    "0b101", std::string("1\0", 2),
      "+ 1",    "- 1",   "1e++5", "1d5", "1f",    "1.5L",
  };
  for (const std::string& text : rejected) {
    SCOPED_TRACE(text);
    Extended out = kSentinel;
    EXPECT_FALSE(TextToExtended(text, out));
    EXPECT_EQ(out, kSentinel) << "left untouched";
    EXPECT_EQ(DecimalToExtended(text), Extended{});
    EXPECT_EQ(DecimalToLongDouble(text), 0.0L);
    EXPECT_FALSE(std::signbit(DecimalToLongDouble(text)));
  }
}

TEST(DecimalSyntax, OverflowIsNotANumberUnderflowIsZero) {
  Extended out = kSentinel;
  EXPECT_FALSE(TextToExtended("1e5000", out));
  EXPECT_FALSE(TextToExtended("-1e4933", out));
  EXPECT_FALSE(TextToExtended("1e999999999", out));
  EXPECT_FALSE(TextToExtended("1e99999999999999999999999999999999", out));
  EXPECT_FALSE(TextToExtended("0.00001e999999999", out));
  EXPECT_EQ(out, kSentinel);
  EXPECT_EQ(DecimalToExtended("1e999999999"), Extended{});

  ASSERT_TRUE(TextToExtended("1e-999999999", out));
  EXPECT_EQ(out, Extended{});
  ASSERT_TRUE(TextToExtended("1e-99999999999999999999999999999999", out));
  EXPECT_EQ(out, Extended{});
  ASSERT_TRUE(TextToExtended("0e999999999", out));
  EXPECT_EQ(out, Extended{});
  // A huge count of digits moves the exponent back into range.
  ASSERT_TRUE(TextToExtended("0." + std::string(5000, '0') + "1e5000", out));
  EXPECT_EQ(out.ToLongDouble(), 0.1L);
  ASSERT_TRUE(TextToExtended("1" + std::string(5000, '0') + "e-5000", out));
  EXPECT_EQ(out.ToLongDouble(), 1.0L);
}

TEST(DecimalSyntax, VeryLongTextsAreHandled) {
  // A million leading zeros, and a million digits after a significant one.
  const std::string zeros(1000000, '0');
  EXPECT_EQ(DecimalToLongDouble(zeros + "42.5"), 42.5L);
  EXPECT_EQ(DecimalToLongDouble("0." + zeros + "1e1000000"), 0.1L);
  EXPECT_EQ(DecimalToLongDouble("3." + zeros), 3.0L);
  // Nonzero digits far beyond the cut still count: 1.000...0001 is above 1 but rounds to 1,
  // 0.5 ulp above 1 plus something tiny rounds up.
  EXPECT_EQ(DecimalToLongDouble("1." + zeros + "1"), 1.0L);
  if constexpr (test::kHostHasX87LongDouble) {
    // 1 + 2^-64 is the midpoint between 1 and the next value; a tie goes to the even 1.
    const std::string half_ulp =
        "1.0000000000000000000542101086242752217003726400434970855712890625";
    EXPECT_EQ(DecimalToLongDouble(half_ulp), 1.0L);
    EXPECT_EQ(DecimalToLongDouble(half_ulp + zeros + "1"), std::nextafter(1.0L, 2.0L));
    EXPECT_EQ(DecimalToLongDouble(half_ulp.substr(0, half_ulp.size() - 1) + "4" + "9" + zeros),
              1.0L);
  }
}

TEST(DecimalSyntax, PointIsTheSeparatorWhateverTheLocale) {
  const char* comma_locale = nullptr;
  for (const char* name : {"ru_RU.UTF-8", "ru_RU.CP1251", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      comma_locale = name;
      break;
    }
  }
  if (comma_locale == nullptr) GTEST_SKIP() << "no locale with a decimal comma installed";
  EXPECT_EQ(DecimalToLongDouble("230.5"), 230.5L);
  EXPECT_EQ(DecimalToExtended("230,5"), Extended{});
  std::setlocale(LC_ALL, "C");
}

TEST(IntegerOrZero, ParsesSigned32BitDecimals) {
  struct Case {
    const char* text;
    int32_t value;
  };
  const std::vector<Case> cases = {
      {"045", 45},
      {"0", 0},
      {"-0", 0},
      {"+17", 17},
      {"-17", -17},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"0000000000000000000000000000012", 12},
      {"2147483648", 0},
      {"-2147483649", 0},
      {"99999999999999999999999", 0},
      {"45.5", 0},
      {"45.", 0},
      {"45.0", 0},
      {"4e1", 0},
      {"", 0},
      {"+", 0},
      {"-", 0},
      {" 45", 0},
      {"45 ", 0},
      {"45\r", 0},
      {"0x1A", 0},
      {"$1A", 0},
      {"4,5", 0},
      {"--4", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IntegerOrZero(c.text), c.value);
  }
}

}  // namespace
}  // namespace qelta
