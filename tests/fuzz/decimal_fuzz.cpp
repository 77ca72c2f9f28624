// The decimal conversion of reply words against the host's strtold, and the 10-byte extended
// format against the host's x87 long double.
//
// Every input is taken as a text: when it is a number of the accepted syntax, the conversion
// must give strtold's bytes (or fail where strtold overflows); any other text must be refused
// and leave the output untouched. The same text goes through the 32-bit integer conversion,
// checked against strtoll. The first ten bytes of the input are also taken as an extended
// number, which must read as the host's long double and convert back unchanged.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "link/status_records.h"
#include "oracle.h"

namespace {

using qelta::Extended;

static_assert(qelta::test::kHostHasX87LongDouble,
              "the oracle needs long double in the x87 extended format (x86-64)");

[[noreturn]] void Fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "%s (input of %zu bytes, first 200: \"%.*s\")\n", what, text.size(),
               static_cast<int>(text.size() < 200 ? text.size() : 200), text.data());
  std::abort();
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The accepted syntax: blanks, a sign, digits with an optional "." fraction (at least one
// digit in all), an optional exponent with its own sign and at least one digit, nothing else.
bool IsDecimalNumber(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  for (; i < n && IsDigit(text[i]); ++i) ++digits;
  if (i < n && text[i] == '.') {
    for (++i; i < n && IsDigit(text[i]); ++i) ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    if (i == n || !IsDigit(text[i])) return false;
    while (i < n && IsDigit(text[i])) ++i;
  }
  return i == n;
}

void CheckDecimal(std::string_view text) {
  Extended out;
  out.bytes.fill(0xA5);
  const Extended untouched = out;
  const bool converted = qelta::TextToExtended(text, out);

  if (!IsDecimalNumber(text)) {
    if (converted) Fail("a text that is not a number was converted", text);
    if (out != untouched) Fail("a refused text changed the output", text);
    if (qelta::DecimalToExtended(text) != Extended{}) Fail("a refused text did not give 0", text);
    return;
  }
  const qelta::test::OracleResult expected = qelta::test::Oracle(std::string(text));
  if (expected.overflowed) {
    if (converted) Fail("a number beyond the format's range was converted", text);
    if (out != untouched) Fail("an overflowing text changed the output", text);
    return;
  }
  if (!converted) Fail("a number in range was refused", text);
  if (out != expected.bytes) Fail("the conversion differs from strtold", text);
  if (qelta::DecimalToExtended(text) != out) Fail("DecimalToExtended differs", text);
  if (qelta::test::BytesOf(out.ToLongDouble()) != out) Fail("ToLongDouble changed the value", text);
}

// strtoll on texts of the integer syntax (sign, then digits only); 0 for anything else and for
// values beyond 32 bits.
int32_t ExpectedInteger(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  if (i == text.size()) return 0;
  for (size_t k = i; k < text.size(); ++k) {
    if (!IsDigit(text[k])) return 0;
  }
  const std::string copy(text);
  errno = 0;
  const long long value = std::strtoll(copy.c_str(), nullptr, 10);
  if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return 0;
  return static_cast<int32_t>(value);
}

// Extended numbers as the x87 unit itself produces them: the integer bit set exactly when the
// exponent is not 0, infinities, and NaNs (whose payload is not kept).
void CheckExtendedBytes(const uint8_t* data) {
  Extended value;
  std::memcpy(value.bytes.data(), data, value.bytes.size());
  const std::string_view text(reinterpret_cast<const char*>(data), value.bytes.size());
  uint64_t significand = 0;
  std::memcpy(&significand, value.bytes.data(), sizeof significand);  // little-endian host
  const int exponent = (value.bytes[9] & 0x7F) << 8 | value.bytes[8];
  const uint64_t integer_bit = uint64_t{1} << 63;
  if (((significand & integer_bit) != 0) != (exponent != 0)) return;  // not x87's own forms

  const long double read = value.ToLongDouble();
  if (exponent == 0x7FFF && significand != integer_bit) {
    if (read == read) Fail("a NaN did not read as NaN", text);
    const Extended back = Extended::FromLongDouble(read);
    uint64_t back_significand = 0;
    std::memcpy(&back_significand, back.bytes.data(), sizeof back_significand);
    if (((back.bytes[9] & 0x7F) << 8 | back.bytes[8]) != 0x7FFF ||
        back_significand == integer_bit) {
      Fail("a NaN did not convert back to a NaN", text);
    }
    return;
  }
  if (qelta::test::BytesOf(read) != value) Fail("ToLongDouble differs from the host", text);
  if (Extended::FromLongDouble(qelta::test::FromBytes(value)) != value) {
    Fail("FromLongDouble changed the value", text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckDecimal(text);
  if (qelta::IntegerOrZero(text) != ExpectedInteger(text)) Fail("IntegerOrZero differs", text);
  if (size >= 10) CheckExtendedBytes(data);
  return 0;
}
