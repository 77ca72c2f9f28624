#include "settings/value_encoding.h"

#include <limits>

namespace qelta {

std::string EncodeInteger(int32_t value) { return std::to_string(value); }

std::string EncodeBool(bool value) { return value ? "1" : "0"; }

std::optional<int32_t> DecodeInteger(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) return std::nullopt;
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(value);
}

bool DecodeBool(std::string_view text, bool def) {
  return DecodeInteger(text).value_or(def ? 1 : 0) != 0;
}

}  // namespace qelta
