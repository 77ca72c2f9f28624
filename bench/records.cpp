// Cost of the decimal conversion of reply words: a typical reading, and the worst texts
// (thousands of significant digits, extreme exponents, very long texts).
//
// Prints one line per case: nanoseconds or microseconds per conversion.

#include <chrono>
#include <cstdio>
#include <string>

#include "link/status_records.h"

namespace {

template <typename F>
double SecondsPerCall(int repeats, F&& f) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < repeats; ++i) f();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / repeats;
}

volatile unsigned char sink;

void Report(const char* name, int repeats, const std::string& text) {
  const double seconds =
      SecondsPerCall(repeats, [&] { sink = qelta::DecimalToExtended(text).bytes[0]; });
  std::printf("%-58s %12.3f us\n", name, seconds * 1e6);
}

}  // namespace

int main() {
  Report("typical reading \"230.5\"", 200000, "230.5");
  Report("word with exponent \"1.25e2\"", 200000, "1.25e2");
  Report("absurd exponent \"1e999999999\"", 200000, "1e999999999");
  Report("absurd negative exponent \"1e-999999999\"", 200000, "1e-999999999");
  Report("40 digits, exponent -4940 (subnormal)", 200,
         "1234567890123456789012345678901234567890e-4980");
  Report("40 digits, exponent +4890", 200, "1234567890123456789012345678901234567890e4890");
  std::string worst = "0.";
  worst += std::string(4950, '0');
  for (int i = 0; i < 13000; ++i) worst.push_back(static_cast<char>('1' + i % 9));
  Report("13000 significant digits below 1e-4950", 20, worst);
  Report("1 000 000 digits of zeros then 1", 50, std::string(1000000, '0') + "1");
  return 0;
}
