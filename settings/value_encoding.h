#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qelta {

// The text encodings every store uses for its values.
std::string EncodeInteger(int32_t value);
std::string EncodeBool(bool value);
// A signed decimal 32-bit integer ("-12", "+7", "045"); nothing else, no blanks.
std::optional<int32_t> DecodeInteger(std::string_view text);
// Booleans read as integers with default 1/0 and are true when not 0.
bool DecodeBool(std::string_view text, bool def);

}  // namespace qelta
