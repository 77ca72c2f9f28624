#include "stats/voltage_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qelta {

QString FormatOneDecimal(double value, const QString& decimal_point) {
  if (!std::isfinite(value)) return QString::number(value);
  const bool negative = value < 0;
  // 15 significant digits: d.dddddddddddddde[+-]x
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
  std::string digits;
  digits += buffer[0];
  digits.append(buffer + 2, 14);
  const int exponent = std::atoi(std::strchr(buffer, 'e') + 1);
  // Tenths as a whole number: the digits up to the first decimal, rounded on the next one.
  const int kept = exponent + 2;  // digits before the rounding digit
  std::string tenths;
  bool round_up = false;
  if (kept >= 0) {
    if (kept >= static_cast<int>(digits.size())) {
      tenths = digits + std::string(static_cast<size_t>(kept) - digits.size(), '0');
    } else {
      tenths = digits.substr(0, static_cast<size_t>(kept));
      round_up = digits[static_cast<size_t>(kept)] >= '5';
    }
  }
  if (tenths.empty()) tenths = "0";
  if (round_up) {
    int i = static_cast<int>(tenths.size()) - 1;
    while (i >= 0 && tenths[static_cast<size_t>(i)] == '9') tenths[static_cast<size_t>(i--)] = '0';
    if (i < 0) {
      tenths.insert(tenths.begin(), '1');
    } else {
      ++tenths[static_cast<size_t>(i)];
    }
  }
  const size_t first_nonzero = tenths.find_first_not_of('0');
  if (first_nonzero == std::string::npos) return QStringLiteral("0");
  tenths.erase(0, first_nonzero);
  const char fraction = tenths.back();
  std::string whole = tenths.substr(0, tenths.size() - 1);
  if (whole.empty()) whole = "0";  // a digit before the separator: 0.5, not .5
  QString text = QString::fromLatin1(negative ? "-" : "") + QString::fromStdString(whole);
  if (fraction != '0') text += decimal_point + QChar::fromLatin1(fraction);
  return text;
}

}  // namespace qelta
