// Helpers shared by the record tests: the host's strtold as the reference conversion, and
// exact decimal texts of long double values.
#pragma once

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/status_records.h"

namespace qelta::test {

// True where long double is the x87 extended format that the record stores, so that strtold
// and printf on long double can serve as the reference.
constexpr bool kHostHasX87LongDouble = LDBL_MANT_DIG == 64 && LDBL_MAX_EXP == 16384;

inline Extended BytesOf(long double value) {
  Extended result;
  std::memcpy(result.bytes.data(), &value, result.bytes.size());
  return result;
}

inline long double FromBytes(const Extended& value) {
  long double result = 0;
  std::memcpy(&result, value.bytes.data(), value.bytes.size());
  return result;
}

// What strtold makes of a whole text: its 10 bytes, or overflowed == true for an infinity.
struct OracleResult {
  bool overflowed = false;
  Extended bytes;
};

inline OracleResult Oracle(const std::string& text) {
  OracleResult result;
  char* end = nullptr;
  errno = 0;
  const long double value = std::strtold(text.c_str(), &end);
  if (end != text.c_str() + text.size()) std::abort();  // the tests only feed valid numbers
  result.overflowed = std::isinf(value);
  result.bytes = BytesOf(value);
  return result;
}

// Exact decimal text of a finite long double: digits, "." and 16500 fraction digits, which
// every value of the format (and every midpoint of two neighbours) needs at most.
constexpr int kFractionDigits = 16500;

inline std::string ExactFixed(long double value) {
  std::vector<char> buffer(kFractionDigits + 5000 + 16);
  const int length = std::snprintf(buffer.data(), buffer.size(), "%.*Lf", kFractionDigits, value);
  return std::string(buffer.data(), static_cast<size_t>(length));
}

// Sum of two non-negative texts from ExactFixed (same number of fraction digits).
inline std::string AddFixed(const std::string& a, const std::string& b) {
  std::string x = a;
  std::string y = b;
  x.erase(x.find('.'), 1);
  y.erase(y.find('.'), 1);
  if (x.size() < y.size()) x.insert(0, y.size() - x.size(), '0');
  if (y.size() < x.size()) y.insert(0, x.size() - y.size(), '0');
  std::string sum(x.size(), '0');
  int carry = 0;
  for (size_t i = x.size(); i-- > 0;) {
    const int digit = (x[i] - '0') + (y[i] - '0') + carry;
    sum[i] = static_cast<char>('0' + digit % 10);
    carry = digit / 10;
  }
  if (carry != 0) sum.insert(sum.begin(), '1');
  sum.insert(sum.size() - kFractionDigits, ".");
  return sum;
}

// Half of a non-negative text from ExactFixed or AddFixed; exact since the last fraction
// digit of the values halved here is zero.
inline std::string HalveFixed(const std::string& a) {
  std::string result = a;
  int remainder = 0;
  for (char& c : result) {
    if (c == '.') continue;
    const int value = remainder * 10 + (c - '0');
    c = static_cast<char>('0' + value / 2);
    remainder = value % 2;
  }
  if (remainder != 0) std::abort();
  return result;
}

// Without superfluous zeros: "0012.3400" gives "12.34", "5.000" gives "5".
inline std::string TrimFixed(const std::string& a) {
  std::string result = a;
  while (result.size() > 1 && result[0] == '0' && result[1] != '.') result.erase(0, 1);
  if (result.find('.') != std::string::npos) {
    while (result.back() == '0') result.pop_back();
    if (result.back() == '.') result.pop_back();
  }
  return result;
}

}  // namespace qelta::test
